// Remote administration on the channel as a TLS client sees it: the login
// first, wrong passwords counted into bans, TLS 1.3 only, the allowed
// addresses, and remote clients counted apart from the local ones.
#include "access/AdminPassword.h"
#include "adminchannel/AdminCertificate.h"
#include "adminchannel/AdminChannel.h"
#include "adminchannel/RemoteAdmin.h"

#include "tests/adminchannel/AdminCoreFixture.h"

#include <QJsonDocument>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <memory>

using namespace kv;
using namespace kv::testing;

namespace {

const QByteArray kGoodLogin = R"({"v":1,"op":"login","password":"segreto"})"
                              "\n";
const QByteArray kBadLogin = R"({"v":1,"op":"login","password":"sbagliata"})"
                             "\n";

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QList<QJsonObject> linesOf(const QByteArray& received) {
    QList<QJsonObject> out;
    for (const QByteArray& line : received.split('\n')) {
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).object();
    }
    return out;
}

// A TLS client on loopback that reads whatever arrives.
struct Remote {
    std::unique_ptr<QSslSocket> socket = std::make_unique<QSslSocket>();
    QByteArray received;
    explicit Remote(quint16 port, QSsl::SslProtocol protocol = QSsl::TlsV1_3OrLater) {
        QSslConfiguration tls = remoteAdminClientTls();
        tls.setProtocol(protocol);
        socket->setSslConfiguration(tls);
        QObject::connect(socket.get(), &QSslSocket::readyRead,
                         [this] { received += socket->readAll(); });
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    }
    bool encrypted() {
        return QTest::qWaitFor([&] { return socket->isEncrypted(); }, 5000);
    }
    QList<QJsonObject> lines() const { return linesOf(received); }
    bool closed() const { return socket->state() == QAbstractSocket::UnconnectedState; }
};

// A channel whose remote side listens on a loopback port with a password.
struct Served : AdminCoreFixture {
    AdminChannel channel{*core};
    quint16 port = freePort();
    QStringList log;
    explicit Served(const QString& allowed = {}, bool password = true) {
        QObject::connect(&core->notifications(), &events::ServerEvents::logLine,
                         [this](const events::LogLine& line) { log << line.text; });
        QMap<QString, QString> options{{"admin_port", QString::number(port)},
                                       {"admin_address", "127.0.0.1"}};
        if (!allowed.isEmpty())
            options.insert("admin_allowed", allowed);
        (void)core->views().options().write(options);
        if (password)
            (void)access::setAdminPassword(core->database().connection(), "segreto");
        channel.setIdleTimeout(20000);
    }
    bool open() { return channel.open() == AdminChannel::OpenResult::Listening; }
    bool logged(const QString& text) const {
        return std::any_of(log.cbegin(), log.cend(),
                           [&](const QString& l) { return l.contains(text); });
    }
};

} // namespace

class TestRemoteListener : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loginThenServedAsLocal() {
        Served f;
        QSignalSpy logins(&f.core->notifications(), &events::ServerEvents::adminLoggedIn);
        QVERIFY(f.open());
        QCOMPARE(f.channel.remotePort(), f.port);
        const QString fingerprint = adminFingerprintOfFile(adminCertificateFile(f.dir.path()));
        QVERIFY(fingerprint.startsWith("SHA256:"));
        QVERIFY(f.logged(fingerprint)); // the start says where and which certificate

        Remote r(f.port);
        QVERIFY(r.encrypted());
        QCOMPARE(adminFingerprint(r.socket->peerCertificate()), fingerprint);
        r.socket->write(kGoodLogin + "{\"op\":\"status\"}\n");
        QTRY_COMPARE_WITH_TIMEOUT(r.lines().size(), 2, 5000);
        QCOMPARE(r.lines()[0].value("fingerprint").toString(), fingerprint);
        const QJsonObject status = r.lines()[1];
        QVERIFY(status.value("ok").toBool());
        QCOMPARE(status.value("adminFingerprint").toString(), fingerprint);
        QCOMPARE(status.value("adminPort").toInt(), int(f.port));
        // Logged in, a long request (a copy's many changes) is read whole.
        r.socket->write("{\"op\":\"status\",\"pad\":\"" + QByteArray(256 * 1024, 'x') + "\"}\n");
        QTRY_COMPARE_WITH_TIMEOUT(r.lines().size(), 3, 5000);
        QVERIFY(r.lines()[2].value("ok").toBool());
        QCOMPARE(logins.size(), 1);
        QCOMPARE(logins[0][0].toString(), "127.0.0.1");
        QVERIFY(f.logged("Amministrazione remota: accesso da 127.0.0.1"));
        r.socket->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(f.logged("fine dell'accesso da 127.0.0.1"), 5000);
    }

    void closedUnlessItLogsIn_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QString>("code");
        QTest::addRow("another op") << QByteArray("{\"op\":\"status\"}\n") << "login";
        QTest::addRow("not json") << QByteArray("hello\n") << "login";
        QTest::addRow("wrong password") << kBadLogin << "denied";
        // Before the password a line stays within the short limit.
        QTest::addRow("long line") << QByteArray(kAdminMaxLineBytes + 1, 'x') << "";
    }
    void closedUnlessItLogsIn() {
        QFETCH(QByteArray, first);
        QFETCH(QString, code);
        Served f;
        QVERIFY(f.open());
        Remote r(f.port);
        QVERIFY(r.encrypted());
        QElapsedTimer clock;
        clock.start();
        r.socket->write(first + "{\"op\":\"status\"}\n");
        QTRY_VERIFY_WITH_TIMEOUT(r.closed(), 5000);
        QCOMPARE(r.lines().size(), 1); // nothing after the refusal is answered
        QCOMPARE(r.lines()[0].value("code").toString(), code);
        if (code == "denied") // answered after the same delay as FTP's
            QVERIFY(clock.elapsed() >= 900);
    }

    void wrongPasswordsBanTheAddress() {
        Served f;
        f.core->loginBans().reset({2, 60000, 60000});
        QVERIFY(f.open());
        for (int attempt = 0; attempt < 2; ++attempt) {
            Remote r(f.port);
            QVERIFY(r.encrypted());
            r.socket->write(kBadLogin);
            QTRY_VERIFY_WITH_TIMEOUT(r.closed(), 5000);
        }
        QVERIFY(f.core->loginBans().isBanned("127.0.0.1"));
        Remote banned(f.port);
        QVERIFY(banned.encrypted());
        banned.socket->write(kGoodLogin); // even the right password
        QTRY_VERIFY_WITH_TIMEOUT(banned.closed(), 5000);
        QCOMPARE(banned.lines().size(), 1);
        QCOMPARE(banned.lines()[0].value("code").toString(), "refused");
    }

    void refusesAddressesNotAllowed() {
        Served f("10.0.0.0/8, 192.168.1.1-192.168.1.9");
        QVERIFY(f.open());
        Remote r(f.port);
        QVERIFY(r.encrypted());
        QTRY_VERIFY_WITH_TIMEOUT(r.closed(), 5000);
        QCOMPARE(r.lines().size(), 1);
        QCOMPARE(r.lines()[0].value("code").toString(), "refused");
    }

    void speaksTls13Only() {
        Served f;
        QVERIFY(f.open());
        Remote old(f.port, QSsl::TlsV1_2);
        QTRY_VERIFY_WITH_TIMEOUT(old.closed(), 5000);
        QVERIFY(!old.socket->isEncrypted());

        QTcpSocket plain;
        QByteArray received;
        connect(&plain, &QTcpSocket::readyRead, [&] { received += plain.readAll(); });
        plain.connectToHost(QHostAddress::LocalHost, f.port);
        QVERIFY(plain.waitForConnected(5000));
        plain.write(kGoodLogin + "{\"op\":\"status\"}\n");
        QTRY_COMPARE_WITH_TIMEOUT(plain.state(), QAbstractSocket::UnconnectedState, 5000);
        QVERIFY(!received.contains("\"ok\""));
    }

    void remoteCrowdLeavesTheLocalChannelFree() {
        Served f;
        QVERIFY(f.open());
        std::vector<std::unique_ptr<Remote>> crowd;
        for (int i = 0; i < 20; ++i)
            crowd.push_back(std::make_unique<Remote>(f.port));
        QTRY_COMPARE_WITH_TIMEOUT(
            std::count_if(crowd.cbegin(), crowd.cend(), [](const auto& r) { return r->closed(); }),
            qsizetype(20 - AdminChannel::kMaxRemoteClients), 10000);
        // The refused four may be closed before the others' handshakes end.
        QTRY_COMPARE_WITH_TIMEOUT(f.channel.clientCount(), AdminChannel::kMaxRemoteClients, 10000);

        QLocalSocket local;
        QByteArray answer;
        connect(&local, &QLocalSocket::readyRead, [&] { answer += local.readAll(); });
        local.connectToServer(f.channel.socketPath());
        local.write("{\"op\":\"status\"}\n");
        QTRY_VERIFY_WITH_TIMEOUT(answer.contains('\n'), 5000);
        QVERIFY(linesOf(answer).value(0).value("ok").toBool());
    }

    void withoutPasswordItDoesNotListenAndLeavesTheFile() {
        Served f({}, false);
        QFile file(f.dir.path() + "/accounts.dat");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QVERIFY(f.open());
        QCOMPARE(f.channel.remotePort(), quint16(0));
        QVERIFY(f.logged("Amministrazione remota non attiva: manca la password (kestrova admin "
                         "passwd)"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);

        // Stored later, it takes effect when the server rereads its settings.
        QCOMPARE(access::setAdminPassword(f.core->database().connection(), "segreto"),
                 std::nullopt);
        Q_EMIT f.core->notifications().settingsApplied();
        QCOMPARE(f.channel.remotePort(), f.port);
    }
};

QTEST_GUILESS_MAIN(TestRemoteListener)
#include "test_remotelistener.moc"
