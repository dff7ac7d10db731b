// The command line's administration client, which waits for its answers:
// an answer and the events after it, a server that closes, and an answer
// longer than the client accepts (no server at all: e2e_admin). The server
// here is a plain socket served from a thread of its own, since the client
// blocks the test's thread.
#include "adminchannel/AdminClient.h"

#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <functional>
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

} // namespace

class TestAdminClient : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
