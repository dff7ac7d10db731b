// The waits between polls of the CA: what Retry-After asks, or a quick
// first poll doubling up to the usual wait.
#include "acme/PollSchedule.h"

#include "tests/support/DataRow.h"

#include <QTest>

using kv::acme::PollSchedule;

namespace {

const QDateTime kNow(QDate(2026, 12, 10), QTime(8, 0), Qt::UTC);

} // namespace

class TestPollSchedule : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void waits_data() {
        QTest::addColumn<QList<QByteArray>>("retryAfter"); // one header per poll
        QTest::addColumn<QList<int>>("expectedMs");
        addRow("no Retry-After: soon, then doubling to the usual wait",
               QList<QByteArray>{"", "", "", "", ""}, QList<int>{250, 500, 1000, 2000, 2000});
        addRow("seconds", QList<QByteArray>{"3", " 0 "}, QList<int>{3000, 0});
        addRow("longer than the longest wait is cut", QList<QByteArray>{"120", "999999999"},
               QList<int>{60000, 60000});
        addRow("an HTTP date", QList<QByteArray>{"Thu, 10 Dec 2026 08:00:10 GMT"},
               QList<int>{10000});
        addRow("a date already past", QList<QByteArray>{"Thu, 10 Dec 2026 07:00:00 GMT"},
               QList<int>{0});
        addRow("a header that is neither keeps the doubling", QList<QByteArray>{"soon", "5", "-"},
               QList<int>{250, 5000, 500});
    }
    void waits() {
        QFETCH(QList<QByteArray>, retryAfter);
        QFETCH(QList<int>, expectedMs);
        PollSchedule schedule(250, 2000, 60000);
        QList<int> waits;
        for (const QByteArray& header : retryAfter)
            waits << schedule.nextDelayMs(header, kNow);
        QCOMPARE(waits, expectedMs);
    }

    // A new wait (the next challenge, the finalized order) starts soon again.
    void restartStartsSoonAgain() {
        PollSchedule schedule(250, 2000, 60000);
        for (int i = 0; i < 4; ++i)
            schedule.nextDelayMs({}, kNow);
        QCOMPARE(schedule.nextDelayMs({}, kNow), 2000);
        schedule.restart();
        QCOMPARE(schedule.nextDelayMs({}, kNow), 250);
    }
};

QTEST_GUILESS_MAIN(TestPollSchedule)
#include "test_pollschedule.moc"
