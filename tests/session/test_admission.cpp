// Admission: one count of open sessions for every protocol, the limits in
// all and per address, bans, and places given back.
#include "session/Admission.h"
#include "session/LoginBans.h"
#include "tests/support/DataRow.h"

#include <QTest>

using kv::session::Admission;
using kv::session::LoginBans;

class TestAdmission : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void limitsCountEverySessionTogether_data() {
        QTest::addColumn<int>("maxInAll");
        QTest::addColumn<int>("maxPerAddress");
        QTest::addColumn<QStringList>("open");
        QTest::addColumn<QString>("next");
        QTest::addColumn<int>("refusal"); // -1: admitted
        const QStringList three{"10.0.0.1", "10.0.0.2", "10.0.0.3"};
        QTest::newRow("no limits") << 0 << 0 << three << "10.0.0.1" << -1;
        addRow("in all reached", 3, 0, three, "10.0.0.4", int(Admission::Refusal::TooMany));
        QTest::newRow("in all not reached") << 4 << 0 << three << "10.0.0.4" << -1;
        addRow("per address reached", 0, 2, QStringList{"10.0.0.1", "10.0.0.1"}, "10.0.0.1",
               int(Admission::Refusal::TooManyFromAddress));
        addRow("another address", 0, 2, QStringList{"10.0.0.1", "10.0.0.1"}, "10.0.0.2", -1);
        addRow("in all before per address", 2, 1, QStringList{"10.0.0.1", "10.0.0.2"}, "10.0.0.1",
               int(Admission::Refusal::TooMany));
    }
    void limitsCountEverySessionTogether() {
        QFETCH(int, maxInAll);
        QFETCH(int, maxPerAddress);
        QFETCH(QStringList, open);
        QFETCH(QString, next);
        QFETCH(int, refusal);
        Admission admission;
        admission.setLimits({maxInAll, maxPerAddress});
        std::vector<Admission::Ticket> tickets;
        for (const QString& address : open)
            tickets.push_back(admission.admit(address));
        const auto got = admission.refusalOf(next);
        QCOMPARE(got ? int(*got) : -1, refusal);
    }

    void placesAreGivenBackOnce() {
        Admission admission;
        admission.setLimits({1, 0});
        {
            Admission::Ticket first = admission.admit("10.0.0.1");
            QVERIFY(admission.refusalOf("10.0.0.2"));
            Admission::Ticket moved = std::move(first);
            QVERIFY(!first.held());
            QCOMPARE(admission.open(), 1);
            first.release(); // nothing: it was moved away
            QCOMPARE(admission.open(), 1);
        }
        QCOMPARE(admission.open(), 0);
        QCOMPARE(admission.openFrom("10.0.0.1"), 0);
        QVERIFY(!admission.refusalOf("10.0.0.2"));
    }

    void aBannedAddressIsRefusedFirst() {
        LoginBans bans;
        bans.reset({2, 60000, 60000});
        Admission admission(&bans);
        admission.setLimits({1, 0});
        Admission::Ticket t = admission.admit("10.0.0.1");
        bans.ban("10.0.0.9", 60000);
        QCOMPARE(admission.refusalOf("10.0.0.9"), Admission::Refusal::Banned);
        QVERIFY(admission.reasonText(Admission::Refusal::Banned).contains("bloccato"));
        QVERIFY(admission.reasonText(Admission::Refusal::TooMany).contains("1 connessioni"));
    }
};

QTEST_GUILESS_MAIN(TestAdmission)
#include "test_admission.moc"
