// Accepting remote administrators' connections and their TLS handshakes.
#include "adminchannel/RemoteListener.h"

#include <QSslSocket>
#include <QTimer>

namespace kv {

RemoteListener::RemoteListener(const AdminCertificate& certificate, int maxHandshakes,
                               QObject* parent)
    : QTcpServer(parent), tls_(serverTls(certificate)), maxHandshakes_(maxHandshakes) {}

QSslConfiguration RemoteListener::serverTls(const AdminCertificate& certificate) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_3);
    tls.setLocalCertificate(certificate.certificate);
    tls.setPrivateKey(certificate.key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // the password says who the client is
    return tls;
}

void RemoteListener::incomingConnection(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (handshaking_ >= maxHandshakes_) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++handshaking_;
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    // Once: whichever of the outcomes comes first.
    const auto settle = [this, socket, deadline] {
        deadline->stop();
        socket->disconnect(this);
        --handshaking_;
    };
    const auto fail = [socket, settle] {
        settle();
        socket->abort();
        socket->deleteLater();
    };
    connect(deadline, &QTimer::timeout, this, fail);
    connect(socket, &QAbstractSocket::disconnected, this, fail);
    connect(socket, &QSslSocket::sslErrors, this, fail);
    connect(socket, &QAbstractSocket::errorOccurred, this, fail);
    connect(socket, &QSslSocket::encrypted, this, [this, socket, settle] {
        settle();
        socket->setParent(nullptr);
        Q_EMIT ready(socket);
    });
    deadline->start(kHandshakeMs);
    socket->setSslConfiguration(tls_);
    socket->startServerEncryption();
}

} // namespace kv
