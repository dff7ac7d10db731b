// The limits book as the program keeps it: filled from the options and the
// accounts' table at a start and every reread (the `reload` command and
// SIGHUP go there), and after this program changes an account; and the end
// of an account at the local midnight after its expiry date: its sessions
// closed, the event told once per account and date, across restarts too,
// and one timer waiting for the soonest date.

#include "access/AccountService.h"
#include "access/SettingsService.h"
#include "core/AccountLimitsKeeper.h"
#include "files/LoginGrant.h"
#include "tests/adminchannel/AdminCoreFixture.h"
#include "tests/support/FakeConnection.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;
using kv::access::AccountFields;
using kv::access::AccountService;
using kv::testing::FakeConnection;

namespace {

std::shared_ptr<const files::LoginGrant> grantOf(qint32 account) {
    auto grant = std::make_shared<files::LoginGrant>();
    grant->accountId = account;
    return grant;
}

// A program core over a fake engine with two accounts, bob with two
// sessions and carol with one, and a clock the test sets.
struct Keeping {
    testing::AdminCoreFixture f;
    QDateTime now{QDate(2026, 12, 10), QTime(12, 0)};
    FakeConnection bob1{u"bob"_s, {}}, bob2{u"bob"_s, {}}, carol{u"carol"_s, {}},
        guest{u"anonymous"_s, {}};
    qint32 bobId = 0, carolId = 0;
    QStringList lines;
    QObject linesHolder;

    Keeping() {
        AccountService accounts(f.core->database().connection());
        QCOMPARE(accounts.addAccount(u"bob"_s, u"pw"_s, {}), std::nullopt);
        QCOMPARE(accounts.addAccount(u"carol"_s, u"pw"_s, {}), std::nullopt);
        bobId = qint32(*accounts.accountId(u"bob"_s));
        carolId = qint32(*accounts.accountId(u"carol"_s));
        bob1.setGrant(grantOf(bobId));
        bob2.setGrant(grantOf(bobId));
        carol.setGrant(grantOf(carolId));
        guest.setGrant(grantOf(files::kAnonymousAccountId));
        QObject::connect(&f.core->notifications(), &events::ServerEvents::logLine, &linesHolder,
                         [this](const events::LogLine& l) { lines << l.text; });
    }
    std::unique_ptr<AccountLimitsKeeper> keeper() {
        return std::make_unique<AccountLimitsKeeper>(
            f.core->limitsBook(), f.core->database().connection(), f.core->notifications(),
            [this] {
                return QList<session::ConnectionObject*>{&bob1, &bob2, &carol, &guest};
            },
            [this](const QString& line) { f.core->WriteLog(line); }, [this] { return now; });
    }
    void setLimits(const QString& login, const access::LimitChanges& changes) {
        AccountFields fields;
        fields.limits = changes;
        AccountService accounts(f.core->database().connection());
        QCOMPARE(login == u"anonymous"_s ? accounts.changeAnonymous(fields)
                                         : accounts.changeAccount(login, std::nullopt, fields),
                 std::nullopt);
    }
    static access::LimitChanges expiring(const QDate& date) {
        access::LimitChanges c;
        c.expires = date;
        return c;
    }
};

} // namespace

class TestAccountLimitsKeeper : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // At start, at a reread and after a change made here, the book holds
    // what the options and the table say; a version that moves tells readers.
    void theBookFollowsTheOptionsAndTheTable() {
        Keeping k;
        session::LimitsBook& book = k.f.core->limitsBook();
        access::LimitChanges bob;
        bob.rateDownKib = 300;
        bob.quotaBytes = 1 << 20;
        k.setLimits(u"bob"_s, bob);
        access::SettingsService settings(k.f.core->database().connection());
        QCOMPARE(settings.setOption(u"rate_up_kib"_s, u"2048"_s), std::nullopt);
        QCOMPARE(settings.setOption(u"rate_local_exempt"_s, u"1"_s), std::nullopt);
        QVERIFY(k.f.start());
        QCOMPARE(book.server().rateUpKib, qint64(2048));
        QVERIFY(book.server().localExempt);
        QCOMPARE(book.server().quotaWarnPercent, 80);
        QCOMPARE(book.account(k.bobId), bob.appliedTo({}));
        QCOMPARE(book.account(k.carolId), files::AccountLimits());

        // Changed by another program: the book follows at the reread.
        const quint64 version = book.version();
        QCOMPARE(settings.setOption(u"rate_ip_down_kib"_s, u"64"_s), std::nullopt);
        access::LimitChanges carol;
        carol.sessionRateUpKib = 10;
        k.setLimits(u"carol"_s, carol);
        QCOMPARE(book.account(k.carolId), files::AccountLimits()); // not yet
        QVERIFY(k.f.core->server().ServerReload());
        QCOMPARE(book.server().addressRateDownKib, qint64(64));
        QCOMPARE(book.account(k.carolId).sessionRateUpKib, qint64(10));
        QCOMPARE_GT(book.version(), version);

        // Changed here: at once, without a reread.
        bob.rateDownKib = 0;
        k.setLimits(u"bob"_s, bob);
        k.f.core->accountLimitsChanged();
        QCOMPARE(book.account(k.bobId).rateDownKib, qint64(0));
        QCOMPARE(book.account(k.bobId).quotaBytes, qint64(1 << 20));
        // A reread that changes nothing leaves the version alone.
        const quint64 still = book.version();
        QVERIFY(k.f.core->server().ServerReload());
        QCOMPARE(book.version(), still);
    }

    // 10 December is bob's last day: at 00:00 of the 11th his sessions close,
    // once, with a log line and one event; carol's stay. Told once per date,
    // also by a keeper of a later run; a new date is told again.
    void anAccountEndsAtTheMidnightAfterItsDate() {
        Keeping k;
        k.setLimits(u"bob"_s, Keeping::expiring(QDate(2026, 12, 10)));
        k.setLimits(u"carol"_s, Keeping::expiring(QDate(2026, 12, 12)));
        QSignalSpy expired(&k.f.core->notifications(), &events::ServerEvents::accountExpired);
        k.now = QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59));
        auto keeper = k.keeper();
        keeper->serverRead({});
        QCOMPARE(k.bob1.disconnects + k.bob2.disconnects, 0);
        QCOMPARE(keeper->nextCheck(), QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59)).addSecs(1));

        k.now = QDateTime(QDate(2026, 12, 11), QTime(0, 0));
        keeper->checkExpiries();
        QCOMPARE(k.bob1.disconnects, 1);
        QCOMPARE(k.bob2.disconnects, 1);
        QCOMPARE(k.carol.disconnects + k.guest.disconnects, 0);
        QCOMPARE(expired.size(), 1);
        const auto notice = expired.first().first().value<events::AccountNotice>();
        QCOMPARE(notice.login, u"bob"_s);
        QCOMPARE(notice.detail, u"account scaduto il 2026-12-10"_s);
        QVERIFY(k.lines.filter(u"Account bob: account scaduto il 2026-12-10, sessioni chiuse: 2"_s)
                    .size() == 1);
        // carol's midnight is two days away: the timer looks again within the hour.
        QCOMPARE(keeper->nextCheck(), k.now.addMSecs(AccountLimitsKeeper::kLongestWaitMs));

        keeper->checkExpiries();
        QCOMPARE(expired.size(), 1);

        // The next run remembers it.
        keeper = k.keeper();
        keeper->serverRead({});
        QCOMPARE(expired.size(), 1);

        // A later date, past too: told again.
        k.now = QDateTime(QDate(2026, 12, 20), QTime(8, 0));
        k.setLimits(u"bob"_s, Keeping::expiring(QDate(2026, 12, 19)));
        keeper->refreshAccounts();
        QCOMPARE(expired.size(), 3); // bob's new date and carol's
        QCOMPARE(k.carol.disconnects, 1);
    }

    // The anonymous account ends alike; nothing is watched while the server
    // is stopped, and nothing is told then (a window attached to another
    // server's file must not tell for it).
    void nothingEndsWhileTheServerIsStopped() {
        Keeping k;
        k.setLimits(u"anonymous"_s, Keeping::expiring(QDate(2026, 12, 1)));
        QSignalSpy expired(&k.f.core->notifications(), &events::ServerEvents::accountExpired);
        auto keeper = k.keeper();
        QVERIFY(keeper->refreshAccounts());
        keeper->checkExpiries();
        QCOMPARE(expired.size(), 0);
        QVERIFY(!keeper->nextCheck().isValid());
        keeper->serverRead({});
        QCOMPARE(expired.size(), 1);
        QCOMPARE(expired.first().first().value<events::AccountNotice>().login, u"anonymous"_s);
        QCOMPARE(k.guest.disconnects, 1);
        keeper->serverStopped();
        k.setLimits(u"bob"_s, Keeping::expiring(QDate(2026, 12, 30)));
        keeper->refreshAccounts();
        QVERIFY(!keeper->nextCheck().isValid());
    }

    // The timer itself: armed for the soonest midnight, it fires there.
    void theTimerFiresAtTheSoonestMidnight() {
        Keeping k;
        const QDate last(2026, 12, 10);
        k.setLimits(u"bob"_s, Keeping::expiring(last));
        k.setLimits(u"carol"_s, Keeping::expiring(last.addDays(3)));
        // A clock 200 ms before the end of the 10th, running.
        const QDateTime start = access::expiryMoment(last).addMSecs(-200);
        QElapsedTimer running;
        running.start();
        auto keeper = std::make_unique<AccountLimitsKeeper>(
            k.f.core->limitsBook(), k.f.core->database().connection(), k.f.core->notifications(),
            [&k] {
                return QList<session::ConnectionObject*>{&k.bob1, &k.carol};
            },
            [](const QString&) {}, [&] { return start.addMSecs(running.elapsed()); });
        QSignalSpy expired(&k.f.core->notifications(), &events::ServerEvents::accountExpired);
        keeper->serverRead({});
        QCOMPARE(expired.size(), 0);
        QVERIFY(expired.wait(5000));
        QCOMPARE(expired.size(), 1);
        QCOMPARE_GE(running.elapsed(), 200);
        QCOMPARE(k.bob1.disconnects, 1);
        QCOMPARE(k.carol.disconnects, 0);
    }
};

QTEST_GUILESS_MAIN(TestAccountLimitsKeeper)
#include "test_accountlimitskeeper.moc"
