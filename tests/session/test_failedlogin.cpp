// One refused login, whatever protocol: logged with its reason, told on the
// bus, counted for its address; the count that bans says so once; a refusal
// whose password was right (an expired account) is logged and told, never
// counted.
#include "session/FailedLogin.h"
#include "session/LoginBans.h"

#include <QSignalSpy>
#include <QTest>

using namespace kv;

class TestFailedLogin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void withoutBansTheAnswerNeedNotWait() {
        events::ServerEvents bus;
        QSignalSpy failed(&bus, &events::ServerEvents::loginFailed);
        QStringList lines;
        const session::FailedLoginPlace place{nullptr, &bus, [&](const QString& l) { lines << l; }};
        const bool wait = session::recordFailedLogin(
            place, {{7, "10.0.0.1", {}, events::Protocol::Sftp}, "bob", "password errata"},
            "SFTP: login rifiutato");
        QVERIFY(!wait);
        QCOMPARE(lines, QStringList{"SFTP: login rifiutato: password errata"});
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().value<events::LoginFailure>().login, u"bob");
    }

    void theFailureThatBansIsLoggedAndToldOnce() {
        events::ServerEvents bus;
        session::LoginBans bans;
        bans.setNotifications(&bus);
        bans.reset({3, 60000, 60000});
        QSignalSpy banned(&bus, &events::ServerEvents::addressBanned);
        QStringList lines;
        const session::FailedLoginPlace place{&bans, &bus, [&](const QString& l) { lines << l; }};
        // Failures from two protocols count for the same address.
        const QList<events::Protocol> protocols{events::Protocol::Ftp, events::Protocol::Sftp,
                                                events::Protocol::Ftps, events::Protocol::Sftp};
        for (events::Protocol p : protocols)
            QVERIFY(session::recordFailedLogin(place, {{1, "10.0.0.5", {}, p}, "x", {}}, "Login"));
        QCOMPARE(lines, QStringList{"Indirizzo 10.0.0.5 bloccato temporaneamente dopo 3 accessi "
                                    "falliti"});
        QCOMPARE(banned.size(), 1);
        QVERIFY(bans.isBanned("10.0.0.5"));
    }

    void aRefusalWithTheRightPasswordIsNotCounted() {
        events::ServerEvents bus;
        session::LoginBans bans;
        bans.reset({2, 60000, 60000});
        QSignalSpy failed(&bus, &events::ServerEvents::loginFailed);
        QStringList lines;
        const session::FailedLoginPlace place{&bans, &bus, [&](const QString& l) { lines << l; }};
        for (int i = 0; i < 5; ++i)
            QVERIFY(!session::recordFailedLogin(
                place,
                {{1, "10.0.0.6", {}, events::Protocol::Ftp}, "bob", "account scaduto", false},
                "Login rifiutato"));
        QVERIFY(!bans.isBanned("10.0.0.6"));
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.first(), u"Login rifiutato: account scaduto");
        QCOMPARE(failed.size(), 5);
        // A counted one after them is the first of the address.
        QVERIFY(session::recordFailedLogin(
            place, {{1, "10.0.0.6", {}, events::Protocol::Ftp}, "bob", "password errata"}, "L"));
        QVERIFY(!bans.isBanned("10.0.0.6"));
    }
};

QTEST_GUILESS_MAIN(TestFailedLogin)
#include "test_failedlogin.moc"
