// The renewal schedule with plain values: the share of the lifetime, the
// CA's suggested window, the back-off after failures and the expiry warning.
#include "core/AcmeSchedule.h"

#include <QTest>

using namespace kv::acme_schedule;

namespace {
const QDateTime kIssued(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
const QDateTime kExpires = kIssued.addDays(90);
constexpr qint64 kMinute = 60 * 1000;
} // namespace

class TestAcmeSchedule : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void renewalTime_data() {
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("windowStartDay"); // -1: no window
        QTest::addColumn<int>("windowEndDay");
        QTest::addColumn<double>("jitter");
        QTest::addColumn<qint64>("expectedHours"); // after issue
        QTest::newRow("two thirds of 90 days")
            << 67 << -1 << -1 << 0.5 << qint64(90 * 24 * 67 / 100);
        QTest::newRow("half") << 50 << -1 << -1 << 0.0 << qint64(45 * 24);
        QTest::newRow("window earlier, its start") << 67 << 30 << 32 << 0.0 << qint64(30 * 24);
        QTest::newRow("window earlier, its middle") << 67 << 30 << 32 << 0.5 << qint64(31 * 24);
        QTest::newRow("window earlier, its end") << 67 << 30 << 32 << 1.0 << qint64(32 * 24);
        QTest::newRow("window later: the share wins") << 50 << 80 << 85 << 0.5 << qint64(45 * 24);
        QTest::newRow("window already open") << 67 << -10 << -5 << 0.2 << qint64(-9 * 24);
    }
    void renewalTime() {
        QFETCH(int, percent);
        QFETCH(int, windowStartDay);
        QFETCH(int, windowEndDay);
        QFETCH(double, jitter);
        QFETCH(qint64, expectedHours);
        std::optional<RenewalWindow> window;
        if (windowStartDay != -1)
            window = RenewalWindow{kIssued.addDays(windowStartDay), kIssued.addDays(windowEndDay)};
        const QDateTime when =
            kv::acme_schedule::renewalTime(kIssued, kExpires, percent, window, jitter);
        QCOMPARE(kIssued.secsTo(when) / 3600, expectedHours);
        QCOMPARE(when.timeSpec(), Qt::UTC);
    }

    void retryDoublesToSixHours_data() {
        QTest::addColumn<int>("failures");
        QTest::addColumn<qint64>("middleMs");
        QTest::newRow("first") << 1 << 5 * kMinute;
        QTest::newRow("second") << 2 << 10 * kMinute;
        QTest::newRow("third") << 3 << 20 * kMinute;
        QTest::newRow("seventh") << 7 << 320 * kMinute;
        QTest::newRow("eighth: the ceiling") << 8 << 360 * kMinute;
        QTest::newRow("hundredth") << 100 << 360 * kMinute;
    }
    void retryDoublesToSixHours() {
        QFETCH(int, failures);
        QFETCH(qint64, middleMs);
        QCOMPARE(retryDelayMs(failures, 0.5), middleMs);
        // The jitter moves it by a tenth at most, either way.
        QCOMPARE(retryDelayMs(failures, 0.0), middleMs * 9 / 10);
        QCOMPARE(retryDelayMs(failures, 1.0), middleMs * 11 / 10);
        QVERIFY(retryDelayMs(failures, 0.3) > retryDelayMs(failures, 0.0));
        QVERIFY(retryDelayMs(failures, 0.3) < retryDelayMs(failures, 1.0));
    }

    void expiryWarningOnce_data() {
        QTest::addColumn<int>("daysLeft");
        QTest::addColumn<bool>("alreadyWarned");
        QTest::addColumn<bool>("due");
        QTest::newRow("15 days left") << 15 << false << false;
        QTest::newRow("14 days left") << 14 << false << true;
        QTest::newRow("3 days left") << 3 << false << true;
        QTest::newRow("expired") << -1 << false << true;
        QTest::newRow("3 days left, warned") << 3 << true << false;
    }
    void expiryWarningOnce() {
        QFETCH(int, daysLeft);
        QFETCH(bool, alreadyWarned);
        QFETCH(bool, due);
        const QDateTime now = kExpires.addDays(-daysLeft);
        QCOMPARE(expiryWarningDue(now, kExpires, alreadyWarned ? kExpires : QDateTime()), due);
        // A warning about the previous certificate does not count for a new one.
        QCOMPARE(expiryWarningDue(now, kExpires, kExpires.addDays(-90)), daysLeft <= 14);
    }
};

QTEST_GUILESS_MAIN(TestAcmeSchedule)
#include "test_acmeschedule.moc"
