// The challenge listeners seen from the CA's side on loopback: the http-01
// answer and its limits, the tls-alpn-01 handshake and its refusals, and the
// reasons why a port cannot be listened on.
#include "acme/ChallengeServer.h"
#include "tests/support/DataRow.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <openssl/x509v3.h>

#include <unistd.h>

using namespace kv::acme;

namespace {

constexpr int kWaitMs = 5000;
const QHostAddress kLoopback = QHostAddress(QHostAddress::LocalHost);

PendingChallenge challenge(const QString& type, const QString& domain, const QByteArray& token) {
    return {domain, type, token, token + ".thumbprint"};
}

// Sends `request` (in pieces when asked) and returns all that came back
// until the server closed; `closed` says whether it did within the wait.
QByteArray exchange(quint16 port, const QByteArray& request, bool* closed = nullptr,
                    int waitMs = kWaitMs) {
    QTcpSocket socket;
    socket.connectToHost(kLoopback, port);
    if (!socket.waitForConnected(kWaitMs))
        return "not connected";
    QSignalSpy disconnected(&socket, &QTcpSocket::disconnected);
    socket.write(request);
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                     [&] { received += socket.readAll(); });
    const bool ended = disconnected.wait(waitMs);
    received += socket.readAll();
    if (closed)
        *closed = ended;
    return received;
}

QByteArray extensionValue(const QSslCertificate& certificate, const char* oidText) {
    const QByteArray der = certificate.toDer();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.constData());
    X509* cert = d2i_X509(nullptr, &p, long(der.size()));
    if (!cert)
        return {};
    ASN1_OBJECT* oid = OBJ_txt2obj(oidText, 1);
    const int index = X509_get_ext_by_OBJ(cert, oid, -1);
    ASN1_OBJECT_free(oid);
    QByteArray value;
    if (index >= 0 && X509_EXTENSION_get_critical(X509_get_ext(cert, index)) == 1) {
        const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(X509_get_ext(cert, index));
        value = QByteArray(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                           ASN1_STRING_length(data));
    }
    X509_free(cert);
    return value;
}

struct Handshake {
    bool encrypted = false;
    QByteArray protocol;
    QSslCertificate certificate;
};

// A TLS client as the CA's validator is: ALPN `protocols`, SNI `name`
// (none when empty: the address is an IP), no verification.
Handshake handshake(quint16 port, const QByteArrayList& protocols, const QString& name) {
    bool ended = false; // outlives the socket, which still signals while it is destroyed
    QSslSocket socket;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setAllowedNextProtocols(protocols);
    socket.setSslConfiguration(configuration);
    QObject::connect(&socket, &QSslSocket::errorOccurred, [&] { ended = true; });
    QObject::connect(&socket, &QSslSocket::disconnected, [&] { ended = true; });
    QObject::connect(&socket, &QSslSocket::encrypted, [&] { ended = true; });
    socket.connectToHostEncrypted(kLoopback.toString(), port, name);
    (void)QTest::qWaitFor([&] { return ended; }, kWaitMs);
    Handshake result;
    result.encrypted = socket.isEncrypted();
    result.protocol = socket.sslConfiguration().nextNegotiatedProtocol();
    result.certificate = socket.peerCertificate();
    return result;
}

// The ClientHello a TLS client with ALPN acme-tls/1 sends for `name`,
// caught by a plain listener.
QByteArray clientHello(const QString& name) {
    QTcpServer catcher;
    if (!catcher.listen(kLoopback, 0))
        return {};
    QSslSocket client;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setAllowedNextProtocols({"acme-tls/1"});
    client.setSslConfiguration(configuration);
    client.connectToHostEncrypted(kLoopback.toString(), catcher.serverPort(), name);
    if (!catcher.waitForNewConnection(kWaitMs))
        return {};
    QTcpSocket* caught = catcher.nextPendingConnection();
    QByteArray hello;
    // A record header (5 bytes, the last two its length), then the record.
    (void)QTest::qWaitFor(
        [&] {
            hello += caught->readAll();
            return hello.size() >= 5 &&
                   hello.size() >= 5 + ((uchar(hello[3]) << 8) | uchar(hello[4]));
        },
        kWaitMs);
    return hello;
}

QString ownComm() {
    QFile comm(QStringLiteral("/proc/self/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll().trimmed()) : QString();
}

} // namespace

class TestChallengeServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void http01Answers_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("body");
        const QByteArray path = "/.well-known/acme-challenge/tok-A";
        const QByteArray host = "Host: a.example.test\r\n\r\n";
        const auto answered = [](const char* name, const QByteArray& request) {
            addRow(name, request, QByteArray("200 OK"), QByteArray("tok-A.thumbprint"));
        };
        const auto refused = [](const char* name, const QByteArray& request, const char* status) {
            addRow(name, request, QByteArray(status), QByteArray());
        };
        answered("published, 1.1", "GET " + path + " HTTP/1.1\r\n" + host);
        answered("published, 1.0", "GET " + path + " HTTP/1.0\r\n\r\n");
        answered("bare line ends", "GET " + path + " HTTP/1.1\n\n");
        refused("other token", "GET /.well-known/acme-challenge/tok-B HTTP/1.1\r\n" + host,
                "404 Not Found");
        refused("query", "GET " + path + "?x HTTP/1.1\r\n" + host, "404 Not Found");
        refused("trailing slash", "GET " + path + "/ HTTP/1.1\r\n" + host, "404 Not Found");
        refused("a file", "GET /../../etc/passwd HTTP/1.1\r\n" + host, "404 Not Found");
        refused("HEAD", "HEAD " + path + " HTTP/1.1\r\n" + host, "405 Method Not Allowed");
        refused("POST", "POST " + path + " HTTP/1.1\r\n" + host, "405 Method Not Allowed");
        refused("HTTP/2.0", "GET " + path + " HTTP/2.0\r\n" + host, "400 Bad Request");
        refused("not HTTP", "hello\r\n\r\n", "400 Bad Request");
    }
    void http01Answers() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, body);
        ChallengeServer server;
        QCOMPARE(server.open(QStringLiteral("http-01"), kLoopback, 0), std::nullopt);
        QVERIFY(server.isOpen());
        QCOMPARE(server.publish(challenge("http-01", "a.example.test", "tok-A")), std::nullopt);
        bool closed = false;
        const QByteArray response = exchange(server.port(), request, &closed);
        QVERIFY(closed); // answered and closed
        QVERIFY2(response.startsWith("HTTP/1.1 " + status + "\r\n"), response.constData());
        if (!body.isEmpty()) {
            QVERIFY(response.contains("\r\nContent-Type: text/plain\r\n"));
            QVERIFY(response.endsWith("\r\n\r\n" + body));
        }
    }

    void http01Withdrawn() {
        ChallengeServer server;
        QCOMPARE(server.open(QStringLiteral("http-01"), kLoopback, 0), std::nullopt);
        server.publish(challenge("http-01", "a.example.test", "tok-A"));
        server.publish(challenge("http-01", "b.example.test", "tok-B"));
        const QByteArray b = "GET /.well-known/acme-challenge/tok-B HTTP/1.1\r\n\r\n";
        QVERIFY(exchange(server.port(), b).endsWith("\r\n\r\ntok-B.thumbprint"));
        server.withdrawAll();
        QVERIFY(exchange(server.port(), b).startsWith("HTTP/1.1 404 "));
        server.close();
        QVERIFY(!server.isOpen());
    }

    void http01Limits() {
        ChallengeLimits limits;
        limits.connectionMs = 300;
        ChallengeServer server(limits);
        QCOMPARE(server.open(QStringLiteral("http-01"), kLoopback, 0), std::nullopt);
        server.publish(challenge("http-01", "a.example.test", "tok-A"));
        const QByteArray line = "GET /.well-known/acme-challenge/tok-A HTTP/1.1\r\n";

        // Headers past 8 KiB: refused and closed, whatever follows.
        bool closed = false;
        const QByteArray huge = line + "X-Pad: " + QByteArray(9000, 'a') + "\r\n\r\n";
        QVERIFY(exchange(server.port(), huge, &closed).startsWith("HTTP/1.1 431 "));
        QVERIFY(closed);
        // Just under the limit is still answered.
        const QByteArray large = line + "X-Pad: " + QByteArray(8000, 'a') + "\r\n\r\n";
        QVERIFY(exchange(server.port(), large).startsWith("HTTP/1.1 200 "));

        // A request that never ends is closed at the deadline, unanswered.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(exchange(server.port(), line, &closed), QByteArray());
        QVERIFY(closed);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    }

    void connectionsAtOnce_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("sent"); // unanswered until the deadline
        QTest::newRow("http-01") << QStringLiteral("http-01") << QByteArray("GET / HTTP/1.0\r\n");
        QTest::newRow("tls-alpn-01")
            << QStringLiteral("tls-alpn-01") << QByteArray("\x16\x03\x01\x02\x00\x01", 6);
    }
    void connectionsAtOnce() {
        QFETCH(QString, type);
        QFETCH(QByteArray, sent);
        ChallengeLimits limits;
        limits.maxConnections = 1;
        ChallengeServer server(limits);
        QCOMPARE(server.open(type, kLoopback, 0), std::nullopt);
        // One connection that says nothing holds the only place...
        QTcpSocket quiet;
        quiet.connectToHost(kLoopback, server.port());
        QVERIFY(quiet.waitForConnected(kWaitMs));
        QTest::qWait(100); // accepted by the listener
        // ...so the next one is closed at once, unanswered.
        QElapsedTimer clock;
        clock.start();
        bool closed = false;
        QCOMPARE(exchange(server.port(), sent, &closed), QByteArray());
        QVERIFY(closed);
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(quiet.state(), QAbstractSocket::ConnectedState);
    }

    void tlsAlpn_data() {
        QTest::addColumn<QByteArrayList>("protocols");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("served"); // empty: refused
        const QByteArrayList acme{"acme-tls/1"};
        QTest::newRow("acme-tls/1, b")
            << acme << QStringLiteral("b.example.test") << QStringLiteral("b.example.test");
        QTest::newRow("acme-tls/1, a")
            << acme << QStringLiteral("a.example.test") << QStringLiteral("a.example.test");
        QTest::newRow("name in capitals")
            << acme << QStringLiteral("B.Example.TEST") << QStringLiteral("b.example.test");
        QTest::newRow("among others")
            << QByteArrayList{"h2", "acme-tls/1"} << QStringLiteral("a.example.test")
            << QStringLiteral("a.example.test");
        QTest::newRow("no ALPN") << QByteArrayList{} << QStringLiteral("b.example.test")
                                 << QString();
        QTest::newRow("other ALPN")
            << QByteArrayList{"http/1.1"} << QStringLiteral("b.example.test") << QString();
        QTest::newRow("name not published")
            << acme << QStringLiteral("c.example.test") << QString();
        QTest::newRow("no name, two published") << acme << QString() << QString();
    }
    void tlsAlpn() {
        QFETCH(QByteArrayList, protocols);
        QFETCH(QString, name);
        QFETCH(QString, served);
        ChallengeServer server;
        QCOMPARE(server.open(QStringLiteral("tls-alpn-01"), kLoopback, 0), std::nullopt);
        QCOMPARE(server.publish(challenge("tls-alpn-01", "a.example.test", "tok-A")), std::nullopt);
        QCOMPARE(server.publish(challenge("tls-alpn-01", "b.example.test", "tok-B")), std::nullopt);
        const Handshake result = handshake(server.port(), protocols, name);
        QCOMPARE(result.encrypted, !served.isEmpty());
        if (served.isEmpty())
            return;
        QCOMPARE(result.protocol, QByteArray("acme-tls/1"));
        QCOMPARE(result.certificate.subjectAlternativeNames().values(QSsl::DnsEntry),
                 QStringList{served});
        const QByteArray keyAuthorization =
            (served.startsWith('a') ? "tok-A" : "tok-B") + QByteArray(".thumbprint");
        QCOMPARE(extensionValue(result.certificate, "1.3.6.1.5.5.7.1.31"),
                 QByteArray("\x04\x20", 2) +
                     QCryptographicHash::hash(keyAuthorization, QCryptographicHash::Sha256));
    }

    void tlsAlpnOneNameWithoutSni() {
        ChallengeServer server;
        QCOMPARE(server.open(QStringLiteral("tls-alpn-01"), kLoopback, 0), std::nullopt);
        const QByteArrayList acme{"acme-tls/1"};
        QVERIFY(!handshake(server.port(), acme, QString()).encrypted); // nothing published
        server.publish(challenge("tls-alpn-01", "a.example.test", "tok-A"));
        const Handshake result = handshake(server.port(), acme, QString());
        QVERIFY(result.encrypted);
        QCOMPARE(result.certificate.subjectAlternativeNames().values(QSsl::DnsEntry),
                 QStringList{QStringLiteral("a.example.test")});
        server.withdrawAll();
        QVERIFY(!handshake(server.port(), acme, QStringLiteral("a.example.test")).encrypted);
    }

    void tlsAlpnClientHelloInPieces() {
        ChallengeLimits limits;
        limits.connectionMs = 1000;
        ChallengeServer server(limits);
        QCOMPARE(server.open(QStringLiteral("tls-alpn-01"), kLoopback, 0), std::nullopt);
        server.publish(challenge("tls-alpn-01", "a.example.test", "tok-A"));
        server.publish(challenge("tls-alpn-01", "b.example.test", "tok-B"));
        const QByteArray hello = clientHello(QStringLiteral("b.example.test"));
        QVERIFY(hello.size() > 100);

        // Sent in two pieces, the name is still read and the handshake answered.
        QTcpSocket socket;
        socket.connectToHost(kLoopback, server.port());
        QVERIFY(socket.waitForConnected(kWaitMs));
        socket.write(hello.left(60));
        QVERIFY(socket.waitForBytesWritten(kWaitMs));
        QTest::qWait(100);
        QCOMPARE(socket.bytesAvailable(), 0);
        socket.write(hello.mid(60));
        QTRY_VERIFY_WITH_TIMEOUT(socket.bytesAvailable() > 0, kWaitMs);
        QCOMPARE(socket.peek(1), QByteArray("\x16")); // a handshake record: the ServerHello
    }

    void tlsAlpnLimits_data() {
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("not TLS") << QByteArray("GET / HTTP/1.1\r\n\r\n");
        QTest::newRow("a ClientHello that never ends") << QByteArray("\x16\x03\x01\x02\x00\x01", 6);
        QTest::newRow("nothing") << QByteArray();
    }
    void tlsAlpnLimits() {
        QFETCH(QByteArray, sent);
        ChallengeLimits limits;
        limits.connectionMs = 300;
        ChallengeServer server(limits);
        QCOMPARE(server.open(QStringLiteral("tls-alpn-01"), kLoopback, 0), std::nullopt);
        server.publish(challenge("tls-alpn-01", "a.example.test", "tok-A"));
        QElapsedTimer clock;
        clock.start();
        bool closed = false;
        QCOMPARE(exchange(server.port(), sent, &closed), QByteArray());
        QVERIFY(closed);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    }

    void portInUse_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QHostAddress>("address");
        QTest::addColumn<QString>("setting");
        QTest::newRow("http-01") << QStringLiteral("http-01") << kLoopback
                                 << QStringLiteral("acme_http_port");
        QTest::newRow("tls-alpn-01")
            << QStringLiteral("tls-alpn-01") << kLoopback << QStringLiteral("acme_tls_port");
        QTest::newRow("IPv6") << QStringLiteral("http-01")
                              << QHostAddress(QHostAddress::LocalHostIPv6)
                              << QStringLiteral("acme_http_port");
    }
    void portInUse() {
        QFETCH(QString, type);
        QFETCH(QHostAddress, address);
        QFETCH(QString, setting);
        QTcpServer holder;
        if (!holder.listen(address, 0))
            QSKIP("this address is not available here");
        const QString program =
            QStringLiteral("%1 (PID %2)").arg(ownComm()).arg(QCoreApplication::applicationPid());
        QCOMPARE(portHolder(holder.serverPort()), program);

        ChallengeServer server;
        const std::optional<QString> reason = server.open(type, address, holder.serverPort());
        QVERIFY(reason);
        QVERIFY(!server.isOpen());
        QVERIFY2(reason->contains(QStringLiteral("già usata da ") + program), qPrintable(*reason));
        QVERIFY2(reason->contains(setting), qPrintable(*reason));

        holder.close();
        QCOMPARE(portHolder(holder.serverPort()), QString());
    }

    void otherReasons() {
        ChallengeServer server;
        // TEST-NET-1 is nobody's address: binding fails, nothing is sent.
        const std::optional<QString> notHere =
            server.open(QStringLiteral("http-01"), QHostAddress(QStringLiteral("192.0.2.1")), 0);
        QCOMPARE(notHere, QStringLiteral("l'indirizzo 192.0.2.1 non è di questo PC"));
        QCOMPARE(server.open(QStringLiteral("dns-01"), kLoopback, 0),
                 QStringLiteral("tipo di verifica sconosciuto: dns-01"));
        QVERIFY(!server.isOpen());
    }

    void privilegedPort() {
        // The expectation comes from the kernel: may this user listen on 80?
        QTcpServer probe;
        if (probe.listen(kLoopback, 80)) {
            probe.close();
            if (::geteuid() != 0 ||
                QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
                QSKIP("this user may listen below 1024");
            // Root may: the same case runs again as a user who may not.
            QProcess child;
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QStringLiteral("setpriv"),
                        {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                         QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                         QStringLiteral("privilegedPort")});
            QVERIFY(child.waitForFinished(2 * kWaitMs));
            const QByteArray output = child.readAll();
            if (child.exitCode() == 126 || child.exitCode() == 127 || output.contains("SKIP   :"))
                QSKIP("this test cannot run as nobody here");
            QVERIFY2(child.exitCode() == 0 &&
                         output.contains("PASS   : TestChallengeServer::privilegedPort()"),
                     output.constData());
            return;
        }
        if (probe.serverError() != QAbstractSocket::SocketAccessError)
            QSKIP("port 80 is taken");
        ChallengeServer server;
        const std::optional<QString> reason = server.open(QStringLiteral("http-01"), kLoopback, 80);
        QVERIFY(reason);
        QVERIFY2(reason->contains(QStringLiteral("sotto 1024")), qPrintable(*reason));
        QVERIFY2(reason->contains(QStringLiteral("acme_http_port")), qPrintable(*reason));
        QVERIFY2(reason->contains(QStringLiteral("la porta 80 del router")), qPrintable(*reason));
    }
};

QTEST_GUILESS_MAIN(TestChallengeServer)
#include "test_challengeserver.moc"
