#include "acme/TlsAlpnListener.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::acme {

namespace {

// A ClientHello fits in one TLS record (at most 16 KiB and its header).
constexpr int kMaxClientHelloBytes = 16 * 1024 + 5;
// While a ClientHello is incomplete the peeked bytes stay readable, so the
// descriptor is looked at again after this pause instead of at once.
constexpr int kPeekAgainMs = 20;

} // namespace

TlsAlpnListener::TlsAlpnListener(const PublishedChallenges& published, ChallengeLimits limits,
                                 QObject* parent)
    : QTcpServer(parent), published_(published), limits_(limits) {}

void TlsAlpnListener::incomingConnection(qintptr descriptor) {
    const int fd = int(descriptor);
    if (connections_ >= limits_.maxConnections) {
        ::close(fd);
        return;
    }
    // Owns the connection until the end: the descriptor while peeking, then
    // the TLS socket. Deleting it ends everything.
    auto* connection = new QObject(this);
    ++connections_;
    connect(connection, &QObject::destroyed, this, [this] { --connections_; });
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, connection);
    auto closeDescriptor = std::make_shared<bool>(true);
    // The notifier goes before its descriptor is closed.
    connect(connection, &QObject::destroyed, [fd, closeDescriptor, watch = QPointer(notifier)] {
        delete watch.data();
        if (*closeDescriptor)
            ::close(fd);
    });
    QTimer::singleShot(limits_.connectionMs, connection, [connection] { delete connection; });
    connect(notifier, &QSocketNotifier::activated, connection,
            [this, fd, connection, notifier, closeDescriptor] {
                notifier->setEnabled(false);
                QByteArray bytes(kMaxClientHelloBytes, Qt::Uninitialized);
                const ssize_t n =
                    ::recv(fd, bytes.data(), size_t(bytes.size()), MSG_PEEK | MSG_DONTWAIT);
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    notifier->setEnabled(true);
                    return;
                }
                if (n <= 0) {
                    connection->deleteLater(); // closed or failed before a ClientHello
                    return;
                }
                bytes.truncate(n);
                const ClientHello hello = probe_.read(bytes);
                if (hello.status == ClientHello::Status::Incomplete && n < kMaxClientHelloBytes) {
                    QTimer::singleShot(kPeekAgainMs, notifier,
                                       [notifier] { notifier->setEnabled(true); });
                    return;
                }
                const PublishedAnswer* answer = published_.tlsAlpnAnswer(hello.serverName);
                if (hello.status != ClientHello::Status::Read || !answer ||
                    !hello.protocols.contains(kAcmeTlsProtocol)) {
                    connection->deleteLater();
                    return;
                }
                delete notifier;
                *closeDescriptor = false; // the TLS socket owns it now
                startHandshake(fd, connection, *answer);
            });
}

void TlsAlpnListener::startHandshake(int descriptor, QObject* connection,
                                     const PublishedAnswer& answer) {
    auto* socket = new QSslSocket(connection);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        connection->deleteLater();
        return;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setLocalCertificate(answer.certificate);
    configuration.setPrivateKey(answer.key);
    configuration.setAllowedNextProtocols({kAcmeTlsProtocol});
    socket->setSslConfiguration(configuration);
    // After the handshake the CA closes; nothing else is ever read or sent.
    connect(socket, &QSslSocket::encrypted, socket, [socket, connection] {
        if (socket->sslConfiguration().nextNegotiatedProtocol() != kAcmeTlsProtocol)
            connection->deleteLater();
    });
    connect(socket, &QSslSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QSslSocket::disconnected, connection, &QObject::deleteLater);
    connect(socket, &QSslSocket::errorOccurred, connection, &QObject::deleteLater);
    socket->startServerEncryption();
}

} // namespace kv::acme
