// The command line's administration client, which waits for its answers:
// an answer and the events after it, a server that closes, and an answer
// longer than the client accepts (no server at all: e2e_admin); over TLS,
// each way a remote connection ends. The servers here are served from a
// thread of their own, since the client blocks the test's thread.
#include "adminchannel/AdminClient.h"

#include <QSslKey>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstring>
#include <functional>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace kv;

namespace {

// Accepts one client, reads its first line, then runs `script` on the socket.
class ThreadServer {
public:
    explicit ThreadServer(std::function<void(int)> script) {
        path_ = dir_.path().toUtf8() + "/s.sock";
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.constData(), sizeof(address.sun_path) - 1);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(listener_, 1);
        thread_ = std::thread([this, script = std::move(script)] {
            const int peer = ::accept(listener_, nullptr, nullptr);
            if (peer < 0)
                return;
            char c = 0;
            while (::read(peer, &c, 1) == 1 && c != '\n') {
            }
            script(peer);
            ::close(peer);
        });
    }
    ~ThreadServer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    QString path() const { return QString::fromUtf8(path_); }

    // Sends all of `bytes`; false once the client has gone.
    static bool send(int peer, const QByteArray& bytes) {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n =
                ::send(peer, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

private:
    QTemporaryDir dir_;
    QByteArray path_;
    int listener_ = -1;
    std::thread thread_;
};

// What the remote server of a case does once a client has connected.
enum class Peer {
    AnswerLogin,  // TLS 1.3; reads the login line, answers `reply`, then answers one request
    RefuseAtOnce, // TLS 1.3; sends `reply` right after the handshake and closes
    Tls12Only,    // a server that stops at TLS 1.2
    PlainText,    // a plain-text service (an FTP greeting)
    Nothing,      // a port nothing listens on
};

// One TLS (or plain) server on a loopback port, for one client, in a thread.
class RemotePeer {
public:
    RemotePeer(Peer kind, const QString& cert, const QString& key, QByteArray reply)
        : thread_([=, this, reply = std::move(reply)] { serve(kind, cert, key, reply); }) {
        port_ = portReady_.get_future().get();
    }
    ~RemotePeer() { received(); }
    quint16 port() const { return port_; }
    // The bytes the client sent, once it is done.
    QByteArray received() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return received_;
    }

private:
    class Listener : public QTcpServer {
    public:
        qintptr descriptor = -1;

    protected:
        void incomingConnection(qintptr handle) override { descriptor = handle; }
    };

    void serve(Peer kind, const QString& cert, const QString& key, const QByteArray& reply) {
        Listener listener;
        listener.listen(QHostAddress::LocalHost, 0);
        const quint16 port = listener.serverPort();
        if (kind == Peer::Nothing)
            listener.close();
        portReady_.set_value(port);
        for (int i = 0; i < 100 && listener.descriptor < 0 && !stop_; ++i)
            listener.waitForNewConnection(100);
        if (listener.descriptor < 0)
            return;
        QSslSocket socket;
        socket.setSocketDescriptor(listener.descriptor);
        if (kind == Peer::PlainText) {
            socket.write("220 Pronto\r\n");
            socket.waitForBytesWritten(1000);
            socket.waitForReadyRead(2000);
            return;
        }
        QFile certFile(cert), keyFile(key);
        certFile.open(QIODevice::ReadOnly);
        keyFile.open(QIODevice::ReadOnly);
        socket.setLocalCertificate(QSslCertificate(certFile.readAll()));
        socket.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
        socket.setProtocol(kind == Peer::Tls12Only ? QSsl::TlsV1_2 : QSsl::TlsV1_3OrLater);
        socket.startServerEncryption();
        if (!socket.waitForEncrypted(5000))
            return;
        if (kind == Peer::RefuseAtOnce) {
            socket.write(reply);
            socket.flush();
            socket.waitForBytesWritten(1000);
            socket.disconnectFromHost();
            return;
        }
        // Gathers what the client sends until it has closed or the test is done.
        qsizetype answered = 0;
        for (int i = 0; i < 50 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
            socket.waitForReadyRead(100);
            received_ += socket.readAll();
            for (; answered < received_.count('\n'); ++answered) {
                socket.write(answered == 0 ? reply : "{\"v\":1,\"ok\":true,\"running\":true}\n");
                socket.flush();
            }
            if (stop_ && !socket.bytesAvailable())
                break;
        }
    }

    std::promise<quint16> portReady_;
    std::atomic<bool> stop_{false};
    QByteArray received_;
    quint16 port_ = 0;
    std::thread thread_;
};

} // namespace

class TestAdminClient : public QObject {
    Q_OBJECT
    QTemporaryDir tlsDir_;
    QString cert_, key_;

private Q_SLOTS:
    void initTestCase() {
        cert_ = tlsDir_.filePath("cert.pem");
        key_ = tlsDir_.filePath("key.pem");
        QProcess openssl;
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-days", "2", "-subj", "/CN=kv", "-keyout", key_, "-out", cert_});
        if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0)
            QSKIP("the openssl tool cannot make a certificate here");
    }

    // Each way a remote connection ends; the fingerprint is judged before
    // anything of ours leaves, so an untrusted server gets nothing at all.
    void remoteOutcomes_data() {
        using R = AdminClient::Remote;
        QTest::addColumn<Peer>("peer");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<R>("handshake");
        QTest::addColumn<R>("login"); // NoServer: not tried, the server is not trusted
        QTest::addColumn<QString>("error");
        QTest::newRow("logged in") << Peer::AnswerLogin << QByteArray(R"({"v":1,"ok":true})")
                                   << R::Connected << R::Connected << QString();
        QTest::newRow("not trusted")
            << Peer::AnswerLogin << QByteArray() << R::Connected << R::NoServer << QString();
        QTest::newRow("wrong password")
            << Peer::AnswerLogin
            << QByteArray(R"({"v":1,"ok":false,"error":"Password errata","code":"denied"})")
            << R::Connected << R::PasswordRefused << "Password errata";
        QTest::newRow("address refused")
            << Peer::RefuseAtOnce
            << QByteArray(R"({"v":1,"ok":false,"error":"Non ammesso","code":"refused"})")
            << R::Connected << R::AddressRefused << "Non ammesso";
        QTest::newRow("TLS 1.2 only")
            << Peer::Tls12Only << QByteArray() << R::NoServer << R::NoServer << "handshake TLS";
        QTest::newRow("plain service")
            << Peer::PlainText << QByteArray() << R::NoServer << R::NoServer << "handshake TLS";
        QTest::newRow("nothing listening")
            << Peer::Nothing << QByteArray() << R::NoServer << R::NoServer << "rifiutata";
    }
    void remoteOutcomes() {
        QFETCH(Peer, peer);
        QFETCH(QByteArray, reply);
        QFETCH(AdminClient::Remote, handshake);
        QFETCH(AdminClient::Remote, login);
        QFETCH(QString, error);
        RemotePeer server(peer, cert_, key_, reply + '\n');
        AdminClient client;
        QCOMPARE(client.handshake({"127.0.0.1", server.port()}, 5000), handshake);
        QByteArray sent;
        if (handshake == AdminClient::Remote::Connected) {
            QCOMPARE(client.fingerprint(), adminFingerprintOfFile(cert_));
            if (login == AdminClient::Remote::NoServer)
                client.abandon();
            else
                QCOMPARE(client.login("segreta", 5000), login);
        } else {
            QVERIFY2(client.error().contains(QString("127.0.0.1:%1").arg(server.port())),
                     qPrintable(client.error()));
        }
        QVERIFY2(client.error().contains(error), qPrintable(client.error()));
        if (login == AdminClient::Remote::Connected) {
            const auto status = client.request({{"op", "status"}}, 5000);
            QVERIFY2(status && status->value("running").toBool(), qPrintable(client.error()));
            sent = R"({"op":"login","password":"segreta","v":1})"
                   "\n"
                   R"({"op":"status","v":1})"
                   "\n";
        }
        if (peer == Peer::AnswerLogin && login != AdminClient::Remote::PasswordRefused)
            QCOMPARE(server.received(), sent);
    }

    void answerThenEventsUntilClosed() {
        ThreadServer server([](int peer) {
            ThreadServer::send(peer, "{\"v\":1,\"ok\":true,\"following\":true}\n"
                                     "{\"v\":1,\"event\":\"log\",\"line\":\"uno\"}\n");
        });
        AdminClient client;
        QCOMPARE(client.connectTo(server.path()), AdminClient::Connect::Connected);
        const auto answer = client.request({{"op", "follow"}}, 5000);
        QVERIFY2(answer, qPrintable(client.error()));
        QCOMPARE(answer->value("following").toBool(), true);
        const auto event = client.next();
        QVERIFY(event);
        QCOMPARE(event->value("line").toString(), QString("uno"));
        QVERIFY(!client.next()); // the server closed
    }

    void closingWithoutAnswerSaysSo() {
        ThreadServer server([](int) {});
        AdminClient client;
        QCOMPARE(client.connectTo(server.path()), AdminClient::Connect::Connected);
        QVERIFY(!client.request({{"op", "status"}}, 5000));
        QVERIFY2(client.error().contains("chiuso"), qPrintable(client.error()));
    }

    void overlongAnswerIsRefused() {
        ThreadServer server([](int peer) {
            const QByteArray piece(1024 * 1024, 'x');
            for (int i = 0; i < 2 * kAdminMaxReplyBytes / piece.size(); ++i) {
                if (!ThreadServer::send(peer, piece))
                    return; // the client gave up
            }
        });
        AdminClient client;
        QCOMPARE(client.connectTo(server.path()), AdminClient::Connect::Connected);
        QVERIFY(!client.request({{"op", "sessions"}}, 10000));
        QVERIFY2(client.error().contains("troppo lunga"), qPrintable(client.error()));
    }
};

QTEST_GUILESS_MAIN(TestAdminClient)
#include "test_adminclient.moc"
