// The administration client that never waits: answers matched to their
// requests in order, events kept apart, a missing server, a server that
// closes, and an answer longer than the client accepts; over TLS, the
// certificate judged before anything is sent and each refusal told apart.
#include "adminchannel/AdminConnection.h"

#include "adminchannel/AdminChannel.h"
#include "tests/adminchannel/AdminCoreFixture.h"
#include "tests/adminchannel/TlsAdminServer.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>

using namespace kv;
using namespace kv::testing;

namespace {

using Answers = QList<std::optional<QJsonObject>>;

AdminConnection::AnswerFn into(Answers& answers) {
    return [&answers](const std::optional<QJsonObject>& a) { answers.append(a); };
}

// A server of the test's own that sends what the test says.
struct ScriptedServer {
    QTemporaryDir dir;
    QLocalServer server;
    QLocalSocket* peer = nullptr;
    ScriptedServer() {
        server.listen(dir.path() + "/s.sock");
        QObject::connect(&server, &QLocalServer::newConnection,
                         [this] { peer = server.nextPendingConnection(); });
    }
    QString path() const { return server.fullServerName(); }
};

} // namespace

class TestAdminConnection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answersInTheOrderAsked() {
        AdminCoreFixture f;
        QVERIFY(f.start());
        AdminChannel channel(*f.core);
        QCOMPARE(channel.open(), AdminChannel::OpenResult::Listening);
        AdminConnection c;
        QSignalSpy connected(&c, &AdminConnection::connected);
        QSignalSpy events(&c, &AdminConnection::eventReceived);
        c.connectTo(channel.socketPath());
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 5000);
        Answers answers;
        c.request({{"op", "follow"}}, into(answers));
        c.request({{"op", "kick"}, {"id", 77}}, into(answers));
        c.request({{"op", "status"}}, into(answers));
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 3, 5000);
        QCOMPARE(answers[0]->value("following").toBool(), true);
        QVERIFY(answers[1]->value("error").toString().contains("77"));
        QCOMPARE(answers[2]->value("running").toBool(), true);

        // An event between answers is not taken for one.
        f.core->WriteLog("riga");
        c.request({{"op", "bans"}}, into(answers));
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 4, 5000);
        QVERIFY(answers[3]->contains("bans"));
        QTRY_VERIFY_WITH_TIMEOUT(!events.isEmpty(), 5000);
        QCOMPARE(events[0][0].toJsonObject().value("line").toString(), QString("riga"));
    }

    void missingServerFailsWithoutClosing() {
        QTemporaryDir dir;
        AdminConnection c;
        QSignalSpy failed(&c, &AdminConnection::failed);
        QSignalSpy closed(&c, &AdminConnection::closed);
        c.connectTo(dir.path() + "/nessuno.sock");
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 5000);
        QCOMPARE(failed[0][0].value<AdminConnection::Failure>(),
                 AdminConnection::Failure::NoServer);
        QCOMPARE(closed.size(), 0);
        // A request with no connection is answered at once, with nothing.
        Answers answers;
        c.request({{"op", "status"}}, into(answers));
        QCOMPARE(answers.size(), 1);
        QVERIFY(!answers[0]);
    }

    void serverClosingAnswersWhatWaits() {
        ScriptedServer s;
        AdminConnection c;
        QSignalSpy closed(&c, &AdminConnection::closed);
        c.connectTo(s.path());
        QTRY_VERIFY_WITH_TIMEOUT(s.peer && c.isConnected(), 5000);
        Answers answers;
        c.request({{"op", "status"}}, into(answers));
        c.request({{"op", "bans"}}, into(answers));
        QTRY_VERIFY_WITH_TIMEOUT(s.peer->bytesAvailable() > 0, 5000);
        s.peer->write("{\"v\":1,\"ok\":true,\"running\":true}\n");
        s.peer->flush();
        s.peer->disconnectFromServer();
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 5000);
        QCOMPARE(answers.size(), 2);
        QCOMPARE(answers[0]->value("running").toBool(), true);
        QVERIFY(!answers[1]); // never answered
        QVERIFY(!c.error().isEmpty());
    }

    void overlongAnswerEndsTheConnection() {
        ScriptedServer s;
        AdminConnection c;
        c.setReplyLimit(64 * 1024);
        QSignalSpy closed(&c, &AdminConnection::closed);
        c.connectTo(s.path());
        QTRY_VERIFY_WITH_TIMEOUT(s.peer && c.isConnected(), 5000);
        Answers answers;
        c.request({{"op", "sessions"}}, into(answers));
        // A line that never ends, sent in pieces: the client stops at its limit.
        const QByteArray piece(16 * 1024, 'x');
        for (int i = 0; i < 64 && s.peer->state() == QLocalSocket::ConnectedState; ++i) {
            s.peer->write(piece);
            s.peer->flush();
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 5000);
        QVERIFY2(c.error().contains("troppo lunga"), qPrintable(c.error()));
        QCOMPARE(answers.size(), 1);
        QVERIFY(!answers[0]);
        QVERIFY(!c.isConnected());
    }

    void remoteFailuresToldApart_data() {
        QTest::addColumn<int>("expect"); // 0 the server's, 1 another, 2 none
        QTest::addColumn<QString>("password");
        QTest::addColumn<AdminConnection::Failure>("failure");
        QTest::addColumn<bool>("loginSent");
        using F = AdminConnection::Failure;
        QTest::newRow("never trusted") << 2 << "segreta" << F::UnknownCertificate << false;
        QTest::newRow("another certificate") << 1 << "segreta" << F::CertificateChanged << false;
        QTest::newRow("wrong password") << 0 << "altra" << F::WrongPassword << true;
        QTest::newRow("address refused") << 0 << "" << F::AddressRefused << true;
    }
    void remoteFailuresToldApart() {
        QFETCH(int, expect);
        QFETCH(QString, password);
        QFETCH(AdminConnection::Failure, failure);
        QFETCH(bool, loginSent);
        testing::TlsAdminServer s;
        s.password = password;
        if (password.isEmpty())
            s.login = testing::TlsAdminServer::Login::Refuse;
        const QString expected = expect == 0   ? s.fingerprint
                                 : expect == 1 ? QStringLiteral("SHA256:altro")
                                               : QString();
        AdminConnection c;
        QSignalSpy failed(&c, &AdminConnection::failed);
        QSignalSpy connected(&c, &AdminConnection::connected);
        c.connectToRemote(s.address(), expected, QStringLiteral("segreta"));
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 5000);
        QCOMPARE(failed[0][0].value<AdminConnection::Failure>(), failure);
        QCOMPARE(c.seenFingerprint(), s.fingerprint);
        QCOMPARE(connected.size(), 0);
        QVERIFY(!c.isConnected());
        QVERIFY(!c.error().isEmpty());
        QTest::qWait(50); // nothing more arrives at the server
        // An unknown or changed certificate never gets the password.
        QCOMPARE(s.received.size(), loginSent ? 1 : 0);
        if (loginSent)
            QCOMPARE(s.received[0].value("password").toString(), QStringLiteral("segreta"));
        QCOMPARE(failed.size(), 1);
    }

    void remoteLoginThenRequests() {
        testing::TlsAdminServer s;
        AdminConnection c;
        QSignalSpy connected(&c, &AdminConnection::connected);
        c.connectToRemote(s.address(), s.fingerprint, QStringLiteral("segreta"));
        Answers answers;
        c.request({{"op", "status"}}, into(answers)); // before the login: not sent
        QCOMPARE(answers.size(), 1);
        QVERIFY(!answers[0]);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 5000);
        c.request({{"op", "status"}}, into(answers));
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 5000);
        QCOMPARE(answers[1]->value("port").toInt(), 2121);
        QCOMPARE(s.ops(), (QStringList{"login", "status"}));

        QSignalSpy closed(&c, &AdminConnection::closed);
        s.dropClients();
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 5000);
    }

    void noRemoteServer() {
        QTcpServer closedPort;
        QVERIFY(closedPort.listen(QHostAddress::LocalHost));
        const quint16 port = closedPort.serverPort();
        closedPort.close();
        AdminConnection c;
        QSignalSpy failed(&c, &AdminConnection::failed);
        c.connectToRemote({QStringLiteral("127.0.0.1"), port}, QStringLiteral("SHA256:x"), {});
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 5000);
        QCOMPARE(failed[0][0].value<AdminConnection::Failure>(),
                 AdminConnection::Failure::NoServer);
    }
};

QTEST_GUILESS_MAIN(TestAdminConnection)
#include "test_adminconnection.moc"
