// What the administration channel answers: status, sessions with their
// transfers, disconnecting, bans, reload and the ACME state, over a core with a fake engine.
#include "adminchannel/AdminOperations.h"

#include "net/HostAddresses.h"
#include "tests/adminchannel/AdminCoreFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace kv;
using namespace kv::testing;

namespace {
// The operations over a core with a fake engine.
struct Ops : AdminCoreFixture {
    AdminOperations ops{*core};
    QJsonObject ask(const QJsonObject& body) {
        return ops.answer(AdminRequest{body.value("op").toString(), body});
    }
};
} // namespace

class TestAdminOperations : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusFollowsTheServer() {
        Ops f;
        QJsonObject s = f.ops.status();
        QVERIFY(s.value("running") == false && s.value("startedAt").isNull());
        const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-5);
        QVERIFY(f.start());
        QCoreApplication::processEvents();
        ftp::TlsSettings tls;
        tls.mode = ftp::TlsMode::Required;
        tls.implicitPort = 990;
        f.engine->setTls(tls);
        WatchedConnection a, b;
        f.engine->connections = {&a, &b};
        s = f.ops.status();
        // A new database's "Default" listens on every address; the status
        // names the PC's main one, as the window's status bar does.
        QCOMPARE(f.engine->LocalAddress(), kEveryAddress);
        QCOMPARE((QJsonArray{s["ok"], s["running"], s["port"], s["address"], s["tls"],
                             s["implicitPort"], s["sessions"]}),
                 (QJsonArray{true, true, int(f.engine->Port()), kv::net::mainAddress(), "required",
                             990, 2}));
        const QDateTime started =
            QDateTime::fromString(s.value("startedAt").toString(), Qt::ISODateWithMs);
        QVERIFY2(started.isValid() && started >= before &&
                     started <= QDateTime::currentDateTimeUtc(),
                 qPrintable(s.value("startedAt").toString()));
        f.core->server().ServerStop();
        QVERIFY(f.ops.status().value("startedAt").isNull());
    }

    void sessionsShowLoginFolderAndTransfer() {
        Ops f;
        WatchedConnection anonymous({}, {}, "10.0.0.1");
        WatchedConnection bob("bob", "pw", "10.0.0.2");
        bob.setGrant(std::make_shared<files::LoginGrant>());
        bob.connectedAt = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
        bob.folder = "/docs";
        bob.activity = {.direction = kv::session::TransferActivity::Direction::Upload,
                        .path = "/docs/big.iso",
                        .bytes = 1000};
        f.engine->connections = {&anonymous, &bob};

        QJsonArray list = f.ops.sessions().value("sessions").toArray();
        QCOMPARE(list.size(), 2);
        const QJsonObject first = list[0].toObject();
        QCOMPARE((QJsonArray{first["login"], first["address"], first["transfer"], first["id"],
                             first["refused"]}),
                 (QJsonArray{"", "10.0.0.1", QJsonValue(), qint64(anonymous.Id()), ""}));
        anonymous.setRefused("account inesistente");
        QCOMPARE(f.ops.sessions().value("sessions").toArray()[0].toObject()["refused"],
                 QJsonValue("account inesistente"));
        const QJsonObject second = list[1].toObject();
        QJsonObject t = second.value("transfer").toObject();
        QCOMPARE((QJsonArray{second["login"], second["since"], second["folder"], t["direction"],
                             t["path"], t["bytes"]}),
                 (QJsonArray{"bob", "2026-01-02T03:04:05.000Z", "/docs", "upload", "/docs/big.iso",
                             1000}));

        // The rate counts the bytes moved since the transfer was first seen.
        QTest::qWait(200);
        bob.activity.bytes = 1000 + 100000;
        t = f.ops.sessions().value("sessions").toArray()[1].toObject().value("transfer").toObject();
        QCOMPARE(qint64(t.value("bytes").toDouble()), 101000);
        const double rate = t.value("rate").toDouble();
        QVERIFY2(rate > 100000 && rate <= 100000 / 0.2, qPrintable(QString::number(rate)));
        bob.activity.direction = kv::session::TransferActivity::Direction::Download;
        bob.activity.path = "/other";
        t = f.ops.sessions().value("sessions").toArray()[1].toObject().value("transfer").toObject();
        QCOMPARE(t.value("direction").toString(), QString("download"));
        QCOMPARE(t.value("rate").toDouble(), 0.0); // a new transfer starts its own count
    }

    void kick_data() {
        QTest::addColumn<QJsonValue>("id");
        QTest::addColumn<int>("disconnectsOfSecond");   // -1: refused
        QTest::newRow("number") << QJsonValue(-2) << 1; // -2: the second connection's id
        QTest::newRow("as text") << QJsonValue("second") << 1;
        QTest::newRow("unknown") << QJsonValue(999999) << -1;
        QTest::newRow("negative") << QJsonValue(-5) << -1;
        QTest::newRow("fraction") << QJsonValue(1.5) << -1;
        QTest::newRow("word") << QJsonValue("abc") << -1;
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << -1;
        QTest::newRow("null") << QJsonValue() << -1;
    }

    void kick() {
        QFETCH(QJsonValue, id);
        QFETCH(int, disconnectsOfSecond);
        Ops f;
        WatchedConnection one, two;
        f.engine->connections = {&one, &two};
        if (id == QJsonValue(-2))
            id = qint64(two.Id());
        else if (id == QJsonValue("second"))
            id = QString::number(two.Id());
        QJsonObject request{{"op", "kick"}};
        if (!id.isUndefined())
            request.insert("id", id);
        const QJsonObject answer = f.ask(request);
        QCOMPARE(answer.value("ok").toBool(), disconnectsOfSecond >= 0);
        QCOMPARE(two.disconnects, std::max(0, disconnectsOfSecond));
        QCOMPARE(one.disconnects, 0);
        if (disconnectsOfSecond < 0)
            QVERIFY(!answer.value("error").toString().isEmpty());
    }

    void ban_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QJsonValue>("minutes");
        QTest::addColumn<QString>("banned"); // empty: refused
        QTest::addColumn<qint64>("expectMinutes");
        QTest::newRow("v4") << "10.1.2.3" << QJsonValue(5) << "10.1.2.3" << 5LL;
        QTest::newRow("v4 spaces") << " 10.1.2.3 " << QJsonValue(5) << "10.1.2.3" << 5LL;
        QTest::newRow("default minutes")
            << "10.1.2.3" << QJsonValue(QJsonValue::Undefined) << "10.1.2.3" << 10LL;
        QTest::newRow("v6") << "2001:DB8::1" << QJsonValue(1) << "2001:db8::1" << 1LL;
        QTest::newRow("mapped v4") << "::ffff:10.0.0.7" << QJsonValue(2) << "10.0.0.7" << 2LL;
        QTest::newRow("minutes as text") << "10.1.2.3" << QJsonValue("7") << "10.1.2.3" << 7LL;
        QTest::newRow("host name") << "example.org" << QJsonValue(5) << "" << 0LL;
        QTest::newRow("block") << "10.0.0.0/8" << QJsonValue(5) << "" << 0LL;
        QTest::newRow("empty") << "" << QJsonValue(5) << "" << 0LL;
        QTest::newRow("zero minutes") << "10.1.2.3" << QJsonValue(0) << "" << 0LL;
        QTest::newRow("negative minutes") << "10.1.2.3" << QJsonValue(-3) << "" << 0LL;
        QTest::newRow("fraction") << "10.1.2.3" << QJsonValue(1.5) << "" << 0LL;
        QTest::newRow("over a year") << "10.1.2.3" << QJsonValue(600000) << "" << 0LL;
    }

    void ban() {
        QFETCH(QString, address);
        QFETCH(QJsonValue, minutes);
        QFETCH(QString, banned);
        QFETCH(qint64, expectMinutes);
        Ops f;
        QSignalSpy started(&f.core->loginBans(), &kv::session::LoginBans::banStarted);
        QJsonObject request{{"op", "ban"}, {"address", address}};
        if (!minutes.isUndefined())
            request.insert("minutes", minutes);
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const QJsonObject answer = f.ask(request);
        QCOMPARE(answer.value("ok").toBool(), !banned.isEmpty());
        const QJsonArray bans = f.ops.bans().value("bans").toArray();
        if (banned.isEmpty()) {
            QVERIFY(!answer.value("error").toString().isEmpty());
            QVERIFY(bans.isEmpty());
            QCOMPARE(started.size(), 0);
            return;
        }
        QVERIFY(f.core->loginBans().isBanned(banned));
        QCOMPARE(started.size(), 1); // open connections from it are closed as for any ban
        QCOMPARE(bans.size(), 1);
        const QJsonObject entry = bans[0].toObject();
        QCOMPARE((QJsonArray{entry["address"], entry["attempts"]}), (QJsonArray{banned, 0}));
        const qint64 secondsLeft = qint64(entry.value("secondsLeft").toDouble());
        QVERIFY2(secondsLeft > expectMinutes * 60 - 5 && secondsLeft <= expectMinutes * 60,
                 qPrintable(QString::number(secondsLeft)));
        const QDateTime until =
            QDateTime::fromString(entry.value("until").toString(), Qt::ISODateWithMs);
        const qint64 ms = before.msecsTo(until);
        QVERIFY2(ms > expectMinutes * 60000 - 5000 && ms <= expectMinutes * 60000 + 5000,
                 qPrintable(entry.value("until").toString()));
    }

    void unbanAnswersWhetherThereWasOne() {
        Ops f;
        QVERIFY(!f.ask({{"op", "unban"}, {"address", "10.0.0.1"}}).value("ok").toBool());
        QVERIFY(
            f.ask({{"op", "ban"}, {"address", "10.0.0.1"}, {"minutes", 3}}).value("ok").toBool());
        QVERIFY(f.ask({{"op", "unban"}, {"address", "::ffff:10.0.0.1"}}).value("ok").toBool());
        QVERIFY(!f.core->loginBans().isBanned("10.0.0.1"));
        QVERIFY(f.ops.bans().value("bans").toArray().isEmpty());
    }

    // Stopped, it says so: test_attachedserver.
    void reloadSaysWhetherAndWhy() {
        Ops f;
        QVERIFY(f.start());
        f.engine->listenResult = false;
        f.engine->listenError = "porta occupata";
        QJsonObject answer = f.ops.reload();
        QCOMPARE((QJsonArray{answer["ok"], answer["applied"], answer["reason"]}),
                 (QJsonArray{true, false, "porta occupata"}));

        f.engine->listenResult = true;
        const int before = f.engine->relistenCalls;
        answer = f.ops.reload();
        QCOMPARE(answer.value("applied").toBool(), true);
        QVERIFY(!answer.contains("reason"));
        QCOMPARE(f.engine->relistenCalls, before + 1);
    }

    // With acme off (a missing row) the state says so, status carries none,
    // and a renewal is refused with the way to turn it on.
    void acmeAnswersItsStateAndRefusesARenewalWhileOff() {
        Ops f;
        QVERIFY(f.ops.status().value("acme").isNull());
        const QJsonObject state = f.ask({{"op", "acme"}});
        QCOMPARE(state.value("ok"), true);
        const QJsonObject acme = state.value("acme").toObject();
        QCOMPARE((QJsonArray{acme["enabled"], acme["names"], acme["notAfter"], acme["nextAttempt"],
                             acme["working"], acme["attempts"]}),
                 (QJsonArray{false, QJsonArray{}, QJsonValue(), QJsonValue(), false, 0}));
        const QJsonObject renew = f.ask({{"op", "acme"}, {"renew", true}});
        QCOMPARE(renew.value("ok"), false);
        QVERIFY2(renew.value("error").toString().contains("kestrova option set acme on"),
                 qPrintable(renew.value("error").toString()));
        QCOMPARE(f.ask({{"op", "acme"}, {"renew", "yes"}}).value("ok"), false);
        QCOMPARE(f.ask({{"op", "acme"}}).value("acme").toObject().value("attempts"), 0);
    }

    void eventsCarryTheSessionAndTransfer() {
        const events::TransferEvent t{{7, "10.0.0.3", "bob", events::Protocol::Ftps},
                                      events::TransferKind::Upload,
                                      "/a.bin",
                                      {},
                                      42,
                                      100,
                                      events::TransferOutcome::Aborted,
                                      "interrotto"};
        QCOMPARE(AdminOperations::transferEvent("transferFinished", t),
                 QJsonDocument::fromJson(R"({"event": "transferFinished", "id": 7,
                     "address": "10.0.0.3", "login": "bob", "protocol": "ftps",
                     "direction": "upload", "path": "/a.bin", "bytes": 42, "size": 100,
                     "outcome": "aborted", "reason": "interrotto"})")
                     .object());
    }

    // A limited transfer carries its limit; an unlimited one carries none, so
    // that what a client reads is what a server without limits sends.
    void aLimitedTransferSaysItsLimit() {
        events::TransferEvent t;
        t.session = {7, "10.0.0.3", "bob", events::Protocol::Sftp};
        t.clientPath = "/a.bin";
        t.limitBytesPerSecond = 10 << 20;
        QCOMPARE(AdminOperations::transferEvent("transferProgress", t).value("limit").toDouble(),
                 double(10 << 20));
        t.limitBytesPerSecond = 0;
        QVERIFY(!AdminOperations::transferEvent("transferProgress", t).contains("limit"));

        // `sessions` gives the limit the transfer started under.
        Ops f;
        WatchedConnection bob("bob", "pw", "10.0.0.2");
        bob.setGrant(std::make_shared<files::LoginGrant>());
        bob.activity = {.direction = kv::session::TransferActivity::Direction::Download,
                        .path = "/a.bin",
                        .bytes = 10};
        f.engine->connections = {&bob};
        const auto transfer = [&f] {
            return f.ops.sessions()
                .value("sessions")
                .toArray()[0]
                .toObject()["transfer"]
                .toObject();
        };
        QVERIFY(!transfer().contains("limit"));
        t.session.id = bob.Id();
        t.limitBytesPerSecond = 512 << 10;
        Q_EMIT f.core->notifications().transferStarted(t);
        QCOMPARE(transfer().value("limit").toDouble(), double(512 << 10));
    }
};

QTEST_GUILESS_MAIN(TestAdminOperations)
#include "test_adminoperations.moc"
