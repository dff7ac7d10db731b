// The window's view of another program's server, against a real
// administration channel in this process: attaching, the sessions with
// their transfers, events, kick and bans, reload answers, and the server
// going away.
#include "adminchannel/AttachedServer.h"

#include "adminchannel/AdminChannel.h"
#include "tests/adminchannel/AdminCoreFixture.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace kv;
using namespace kv::testing;

namespace {

// A logged-in connection moving a file.
std::unique_ptr<WatchedConnection> downloader() {
    auto c = std::make_unique<WatchedConnection>("bob", "secret", "10.0.0.7");
    auto grant = std::make_shared<files::LoginGrant>();
    grant->login = "bob";
    grant->root = "/srv/bob";
    grant->rights = files::Rights::fromLetters(u"r");
    c->setGrant(grant);
    c->activity = {.direction = kv::session::TransferActivity::Direction::Download,
                   .path = "/film.mkv",
                   .bytes = 4096,
                   .size = 10000,
                   .sentTotal = 5000};
    return c;
}

struct Attached {
    AdminCoreFixture f;
    std::unique_ptr<AdminChannel> channel;
    AttachedServer server;

    bool open() {
        if (!f.start())
            return false;
        channel = std::make_unique<AdminChannel>(*f.core);
        return channel->open() == AdminChannel::OpenResult::Listening;
    }
    // Attached, with the server's sessions and bans as it asks for them once.
    bool attach() {
        QSignalSpy attached(&server, &AttachedServer::attached);
        QSignalSpy listed(&server, &ServerSource::sessionsChanged);
        QSignalSpy banned(&server, &ServerSource::bansChanged);
        server.attach(channel->socketPath());
        return QTest::qWaitFor(
            [&] { return attached.size() == 1 && listed.size() == 1 && banned.size() == 1; }, 5000);
    }
    // Attached to a server where bob's download is under way, and it is listed.
    bool attachWith(WatchedConnection& bob) {
        f.engine->connections = {&bob};
        return open() && attach() &&
               QTest::qWaitFor([this] { return server.sessionCount() == 1; }, 5000);
    }
};

} // namespace

class TestAttachedServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listsSessionsWithTheirTransfers() {
        Attached a;
        auto bob = downloader();
        QVERIFY(a.attachWith(*bob) && a.server.isAttached());
        QCOMPARE(qint64(a.server.status().value("pid").toDouble()),
                 QCoreApplication::applicationPid());
        QVERIFY(!a.server.status().value("user").toString().isEmpty());

        const auto rows = a.server.onlineRows("/predefinita");
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].key, monitor::onlineKey(*bob));
        // No password crosses the channel.
        QCOMPARE(
            QStringList(rows[0].columns.begin(), rows[0].columns.end()),
            (QStringList{"bob", "", "10.0.0.7", "/srv/bob",
                         monitor::EsplicitaPermessi(files::Rights::fromLetters(u"r").letters())}));

        const auto live = a.server.liveReadings();
        QCOMPARE(live.size(), 1);
        QCOMPARE(live[0].key, rows[0].key);
        const kv::session::TransferActivity& t = live[0].reading.activity;
        QCOMPARE(t.direction, kv::session::TransferActivity::Direction::Download);
        QCOMPARE(t.path, QString("/film.mkv"));
        QCOMPARE((QList<qint64>{t.bytes, t.size, t.sentTotal}), (QList<qint64>{4096, 10000, 5000}));

        // The counters move with the transfer's progress events.
        QCOMPARE(live[0].limitBytesPerSecond, 0); // a transfer without a limit names none
        auto& bus = a.f.core->notifications();
        const events::SessionInfo session{bob->Id(), "10.0.0.7", "bob", events::Protocol::Ftp};
        bob->activity.bytes = 8192;
        bob->activity.sentTotal = 9096;
        events::TransferEvent moving;
        moving.session = session;
        moving.clientPath = "/film.mkv";
        moving.bytes = 8192;
        moving.size = 10000;
        moving.limitBytesPerSecond = 5 << 20;
        Q_EMIT bus.transferProgress(moving);
        QTRY_COMPARE_WITH_TIMEOUT(a.server.liveReadings().value(0).reading.activity.bytes, 8192,
                                  5000);
        QCOMPARE(a.server.liveReadings().value(0).reading.activity.sentTotal, 9096);
        // A limit set while it runs comes with its progress.
        QCOMPARE(a.server.liveReadings().value(0).limitBytesPerSecond, 5 << 20);
        bob->activity = {};
        bob->activity.sentTotal = 10000;
        moving.outcome = events::TransferOutcome::Complete;
        Q_EMIT bus.transferFinished(moving);
        QTRY_COMPARE_WITH_TIMEOUT(a.server.liveReadings().value(0).reading.activity.direction,
                                  kv::session::TransferActivity::Direction::None, 5000);
        QCOMPARE(a.server.liveReadings().value(0).reading.activity.sentTotal, 10000);
        QCOMPARE(a.server.liveReadings().value(0).limitBytesPerSecond, 0);

        // A refused login shows why, as the window's own server shows it, and no root.
        bob->setGrant(nullptr);
        bob->setRefused("password errata");
        Q_EMIT bus.loginFailed(
            {{bob->Id(), "10.0.0.7", QString(), events::Protocol::Ftp}, "bob", "password errata"});
        QTRY_COMPARE_WITH_TIMEOUT(a.server.onlineRows("/predefinita").value(0).columns[4],
                                  QString("Login rifiutato: password errata"), 5000);
        QCOMPARE(a.server.onlineRows("/predefinita").value(0).columns[3], QString());
    }

    // A limit the transfer started under before the window attached comes
    // with the server's list of sessions.
    void aLimitKnownBeforeAttachingIsListed() {
        Attached a;
        auto bob = downloader();
        a.f.engine->connections = {bob.get()};
        QVERIFY(a.open());
        events::TransferEvent t;
        t.session = {bob->Id(), "10.0.0.7", "bob", events::Protocol::Sftp};
        t.clientPath = "/film.mkv";
        t.limitBytesPerSecond = 1 << 20;
        Q_EMIT a.f.core->notifications().transferStarted(t);
        QVERIFY(a.attach());
        QTRY_COMPARE_WITH_TIMEOUT(a.server.sessionCount(), 1, 5000);
        QCOMPARE(a.server.liveReadings().value(0).limitBytesPerSecond, 1 << 20);
    }

    // Rows come, change and go with the server's events alone: a session the
    // server's list does not hold yet still gets its row from its event.
    void followsLogLinesAndSessionsFromEvents() {
        Attached a;
        QVERIFY(a.open() && a.attach());
        QSignalSpy lines(&a.server, &AttachedServer::logLine);
        QSignalSpy changed(&a.server, &ServerSource::sessionChanged);
        QSignalSpy gone(&a.server, &ServerSource::sessionGone);
        QSignalSpy all(&a.server, &ServerSource::sessionsChanged);
        a.f.core->WriteLog("una riga dal server");
        QTRY_VERIFY_WITH_TIMEOUT(!lines.isEmpty(), 5000);
        QCOMPARE(lines.last().at(0).toString(), QString("una riga dal server"));

        auto& bus = a.f.core->notifications();
        auto bob = downloader();
        a.f.engine->connections = {bob.get()};
        Q_EMIT bus.loggedIn({bob->Id(), "10.0.0.7", "bob", events::Protocol::Ftp});
        QTRY_COMPARE_WITH_TIMEOUT(a.server.sessionCount(), 1, 5000);
        const QString bobKey = monitor::onlineKey(*bob);
        QCOMPARE(changed.value(0).value(0).toString(), bobKey);
        // What the login granted comes with the event.
        QCOMPARE(a.server.onlineRow(bobKey, "/predefinita")->columns[3], QString("/srv/bob"));

        Q_EMIT bus.sessionOpened({4242, "10.0.0.8", QString(), events::Protocol::Sftp});
        QTRY_COMPARE_WITH_TIMEOUT(a.server.sessionCount(), 2, 5000);
        QCOMPARE(a.server.onlineRow("k4242", "/predefinita")->columns[2], QString("10.0.0.8"));

        Q_EMIT bus.sessionClosed({bob->Id(), "10.0.0.7", "bob", events::Protocol::Ftp});
        QTRY_COMPARE_WITH_TIMEOUT(a.server.sessionCount(), 1, 5000);
        QCOMPARE(gone.value(0).value(0).toString(), bobKey);
        QVERIFY(!a.server.onlineRow(bobKey, "/predefinita"));
        QCOMPARE(a.server.onlineRows("/predefinita").value(0).key, QString("k4242"));
        QCOMPARE(all.size(), 0); // one row at a time, never the whole list
    }

    // A ban made and lifted on the server, even by hand there, shows from its
    // events; one that ends goes by itself.
    void bansFollowTheirEvents() {
        Attached a;
        QVERIFY(a.open() && a.attach());
        QList<QStringList> seen;
        connect(&a.server, &ServerSource::bansChanged, &a.server, [&] {
            QStringList addresses;
            for (const session::BanEntry& b : a.server.bans())
                addresses << b.address;
            seen << addresses;
        });
        session::LoginBans& bans = a.f.core->loginBans();
        bans.ban("10.0.0.9", 60000);
        bans.lift("10.0.0.9");
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 5000);
        QCOMPARE(seen, (QList<QStringList>{{"10.0.0.9"}, {}}));

        bans.ban("10.0.0.8", 1000);
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 3, 5000);
        QCOMPARE(seen[2], QStringList{"10.0.0.8"});
        QVERIFY(a.server.bans()[0].msLeft > 0 && a.server.bans()[0].msLeft <= 1000);
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 4, 5000);
        QCOMPARE(seen[3], QStringList{});
    }

    void kicksAndBansThroughTheChannel() {
        Attached a;
        auto bob = downloader();
        QVERIFY(a.attachWith(*bob));

        a.server.disconnectSession("k999999"); // not there: nothing is sent
        a.server.disconnectSession(monitor::onlineKey(*bob));
        QTRY_COMPARE_WITH_TIMEOUT(bob->disconnects, 1, 5000);

        QSignalSpy bans(&a.server, &ServerSource::bansChanged);
        a.server.ban("10.0.0.9", 5);
        QTRY_COMPARE_WITH_TIMEOUT(a.server.bans().size(), 1, 5000);
        QVERIFY(a.server.bans()[0].address == "10.0.0.9" && a.server.bans()[0].msLeft > 4 * 60000);
        QVERIFY(a.f.core->loginBans().isBanned("10.0.0.9"));
        QVERIFY(!bans.isEmpty());

        a.server.unban("10.0.0.9");
        QTRY_VERIFY_WITH_TIMEOUT(a.server.bans().isEmpty(), 5000);
        QVERIFY(!a.f.core->loginBans().isBanned("10.0.0.9"));

        // A refusal comes back with the server's reason.
        QSignalSpy refused(&a.server, &AttachedServer::refused);
        a.server.unban("10.0.0.9");
        QTRY_COMPARE_WITH_TIMEOUT(refused.size(), 1, 5000);
        QVERIFY(refused[0][0].toString().contains("non è bloccato"));
    }

    void reportsWhetherReloadWasApplied() {
        Attached a;
        QVERIFY(a.open() && a.attach());
        QSignalSpy answered(&a.server, &AttachedServer::reloadAnswered);
        a.server.reload();
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 1, 5000);
        QCOMPARE(answered[0][0].toBool(), true);

        a.f.core->server().ServerStop();
        a.server.reload();
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 2, 5000);
        QCOMPARE(answered[1], (QVariantList{false, "Il server non è in funzione"}));
    }

    void serverGoingAwayIsReported() {
        Attached a;
        auto bob = downloader();
        QVERIFY(a.attachWith(*bob));
        QSignalSpy gone(&a.server, &AttachedServer::gone);
        QSignalSpy changed(&a.server, &ServerSource::sessionsChanged);
        a.channel.reset();
        QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, 5000);
        QVERIFY(!gone[0][0].toString().isEmpty() && !a.server.isAttached());
        QCOMPARE(a.server.sessionCount(), 0);
        QVERIFY(!changed.isEmpty());

        // Leaving on purpose is not the server going away.
        a.channel = std::make_unique<AdminChannel>(*a.f.core);
        QVERIFY(a.channel->open() == AdminChannel::OpenResult::Listening && a.attach());
        a.server.detach();
        a.channel.reset();
        QTest::qWait(100);
        QCOMPARE(gone.size(), 1);
    }

    void nothingAnsweringIsNotAttached() {
        AdminCoreFixture f;
        AttachedServer server;
        QSignalSpy unavailable(&server, &AttachedServer::unavailable);
        QSignalSpy gone(&server, &AttachedServer::gone);
        server.attach(f.dir.path() + "/kestrova.sock");
        QTRY_COMPARE_WITH_TIMEOUT(unavailable.size(), 1, 5000);
        QCOMPARE(unavailable[0][0].value<AdminConnection::Failure>(),
                 AdminConnection::Failure::NoServer);
        QVERIFY(!server.isAttached());
        QCOMPARE(gone.size(), 0);
    }

    void describesWhichServerItIs_data() {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QString>("serviceFolder");
        QTest::addColumn<QString>("described");
        QTest::addColumn<QString>("inShort");
        const QString service = kServiceDataFolder;
        QTest::newRow("service user")
            << QJsonObject{{"user", "kestrova"}, {"pid", 12}} << service << "(servizio di sistema)"
            << "(servizio)";
        QTest::newRow("service folder")
            << QJsonObject{{"user", "root"}, {"dataFolder", "/var/lib/kestrova"}, {"pid", 12}}
            << service << "(servizio di sistema)"
            << "(servizio)";
        QTest::newRow("a service folder given elsewhere")
            << QJsonObject{{"user", "root"}, {"dataFolder", "/tmp/servizio"}, {"pid", 12}}
            << "/tmp/servizio"
            << "(servizio di sistema)"
            << "(servizio)";
        QTest::newRow("another program")
            << QJsonObject{{"user", "anna"}, {"dataFolder", "/home/anna/ftp"}, {"pid", 4242}}
            << service << "(altra finestra o server senza finestra, PID 4242)"
            << "(PID 4242)";
        QTest::newRow("older server without pid")
            << QJsonObject{{"dataFolder", "/home/anna/ftp"}} << service
            << "(altra finestra o server senza finestra)"
            << "(altro programma)";
    }

    void describesWhichServerItIs() {
        QFETCH(QJsonObject, status);
        QFETCH(QString, serviceFolder);
        QTEST(attachedServerDescription(status, serviceFolder), "described");
        QTEST(attachedServerShortDescription(status, serviceFolder), "inShort");
        QCOMPARE(isServiceStatus(status, serviceFolder),
                 attachedServerDescription(status, serviceFolder).contains("servizio"));
    }
};

QTEST_GUILESS_MAIN(TestAttachedServer)
#include "test_attachedserver.moc"
