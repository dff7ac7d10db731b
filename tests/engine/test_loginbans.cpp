// LoginBans: failures counted per address inside the window, the ban they
// start and its end, listing and lifting, with a clock the test moves.
#include "engine/LoginBans.h"
#include "tests/support/DataRow.h"

#include <QSignalSpy>
#include <QTest>

using kv::engine::BanRules;
using kv::engine::LoginBans;
using namespace Qt::StringLiterals;

namespace {

// "address attempts msLeft" of every ban, in the order listed.
QStringList listed(const LoginBans& bans) {
    QStringList out;
    for (const kv::engine::BanEntry& b : bans.bans())
        out << u"%1 %2 %3"_s.arg(b.address).arg(b.attempts).arg(b.msLeft);
    return out;
}

} // namespace

class TestLoginBans : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { now_ = 0; }
    void failuresInWindow_data() {
        QTest::addColumn<int>("attempts");
        QTest::addColumn<qint64>("windowMs");
        QTest::addColumn<qint64>("banMs");
        QTest::addColumn<QList<qint64>>("failures"); // times of failed logins from one address
        QTest::addColumn<QList<int>>("banning");     // indexes of the failures that ban
        QTest::addColumn<qint64>("checkAt");
        QTest::addColumn<bool>("bannedThen");
        using T = QList<qint64>;
        using I = QList<int>;
        addRow("off", 0, 100LL, 100LL, T{0, 1, 2, 3, 4, 5, 6}, I{}, 7LL, false);
        addRow("below the limit", 3, 100LL, 100LL, T{0, 1}, I{}, 2LL, false);
        addRow("at the limit", 3, 100LL, 500LL, T{0, 1, 2}, I{2}, 3LL, true);
        addRow("one attempt bans", 1, 100LL, 500LL, T{7}, I{0}, 7LL, true);
        addRow("oldest left", 3, 100LL, 500LL, T{0, 50, 100}, I{}, 100LL, false);
        addRow("just inside", 3, 100LL, 500LL, T{0, 50, 99}, I{2}, 99LL, true);
        addRow("before the end", 2, 100LL, 1000LL, T{0, 1}, I{1}, 1000LL, true);
        addRow("the ban ends", 2, 100LL, 1000LL, T{0, 1}, I{1}, 1001LL, false);
        // Failures while banned neither extend the ban nor count for the next.
        addRow("while banned", 2, 1000LL, 100LL, T{0, 1, 50, 60, 102}, I{1}, 102LL, false);
        addRow("again after", 2, 1000LL, 100LL, T{0, 1, 102, 103}, I{1, 3}, 103LL, true);
    }

    void failuresInWindow() {
        QFETCH(int, attempts);
        QFETCH(qint64, windowMs);
        QFETCH(qint64, banMs);
        QFETCH(QList<qint64>, failures);
        QFETCH(QList<int>, banning);
        QFETCH(qint64, checkAt);
        QFETCH(bool, bannedThen);
        LoginBans bans(clock());
        bans.reset(BanRules{attempts, windowMs, banMs});
        QSignalSpy started(&bans, &LoginBans::banStarted);
        const QString address = u"10.0.0.1"_s;
        QList<int> banned;
        for (int i = 0; i < failures.size(); ++i) {
            now_ = failures[i];
            if (const auto count = bans.recordFailure(address)) {
                banned << i;
                QCOMPARE(*count, attempts);
            }
        }
        QCOMPARE(banned, banning);
        QCOMPARE(started.size(), banning.size());
        now_ = checkAt;
        QCOMPARE(bans.isBanned(address), bannedThen);
        QCOMPARE(bans.bans().size(), bannedThen ? 1 : 0);
    }

    void addressesAreCountedApart() {
        LoginBans bans(clock());
        bans.reset(BanRules{2, 1000, 100000});
        for (const char* address : {"127.0.0.2", "127.0.0.3", "::1"})
            QVERIFY(!bans.recordFailure(QString::fromLatin1(address)));
        QCOMPARE(bans.recordFailure(u"127.0.0.2"_s), std::optional<int>(2));
        QVERIFY(bans.isBanned(u"127.0.0.2"_s));
        QVERIFY(!bans.isBanned(u"127.0.0.3"_s) && !bans.isBanned(u"::1"_s));
        // Many addresses trying once each make the list tidy itself; the ban stays.
        for (int i = 0; i < 3000; ++i) {
            now_ = i;
            QVERIFY(!bans.recordFailure(u"10.1.%1.%2"_s.arg(i / 256).arg(i % 256)));
        }
        QVERIFY(!bans.isBanned(u"10.1.0.1"_s));
        QCOMPARE(listed(bans), QStringList{u"127.0.0.2 2 97001"_s});
    }

    void listingLiftingAndReset() {
        LoginBans bans(clock());
        QSignalSpy changed(&bans, &LoginBans::changed);
        bans.reset(BanRules{3, 60000, 600000});
        QCOMPARE(changed.size(), 0); // nothing was banned
        for (int i = 0; i < 3; ++i)
            bans.recordFailure(u"127.0.0.5"_s);
        now_ = 1000;
        for (int i = 0; i < 4; ++i) // the fourth comes while banned
            bans.recordFailure(u"127.0.0.4"_s);
        QCOMPARE(changed.size(), 2);
        now_ = 61000;
        // The first to end comes first.
        QCOMPARE(listed(bans), QStringList({"127.0.0.5 3 539000", "127.0.0.4 3 540000"}));

        QVERIFY(bans.lift(u"127.0.0.5"_s));
        QVERIFY(!bans.isBanned(u"127.0.0.5"_s));
        QVERIFY(!bans.lift(u"127.0.0.5"_s) && !bans.lift(u"10.9.9.9"_s));
        QCOMPARE(changed.size(), 3);
        // A lifted address starts counting from nothing.
        QVERIFY(!bans.recordFailure(u"127.0.0.5"_s));
        QVERIFY(!bans.recordFailure(u"127.0.0.5"_s));

        bans.reset(BanRules{3, 60000, 600000}); // a new start
        QCOMPARE(changed.size(), 4);
        QCOMPARE(listed(bans), QStringList());
        QVERIFY(!bans.recordFailure(u"127.0.0.5"_s)); // the count began again
    }

    void banByHand() {
        LoginBans bans(clock()); // rules off: only the operator bans
        QSignalSpy started(&bans, &LoginBans::banStarted);
        now_ = 100;
        bans.ban(u"10.0.0.1"_s, 5000);
        QVERIFY(bans.isBanned(u"10.0.0.1"_s));
        QCOMPARE(started.size(), 1);
        QCOMPARE(listed(bans), QStringList{u"10.0.0.1 0 5000"_s});
        bans.ban(u"10.0.0.1"_s, 1000); // a new length replaces the old one
        QCOMPARE(listed(bans), QStringList{u"10.0.0.1 0 1000"_s});
        now_ = 1100;
        QVERIFY(!bans.isBanned(u"10.0.0.1"_s));
        QCOMPARE(listed(bans), QStringList());
    }

private:
    qint64 now_ = 0;
    LoginBans::Clock clock() {
        return [this] { return now_; };
    }
};

QTEST_GUILESS_MAIN(TestLoginBans)
#include "test_loginbans.moc"
