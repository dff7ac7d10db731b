// Ending and watching an administration client's socket, local or TLS.
#include "adminchannel/AdminChannelClient.h"

#include <QLocalSocket>
#include <QSslSocket>
#include <sys/socket.h>

namespace kv::adminsocket {

void onDisconnected(QIODevice* socket, QObject* context, std::function<void()> gone) {
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        QObject::connect(local, &QLocalSocket::disconnected, context, std::move(gone));
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        QObject::connect(tcp, &QAbstractSocket::disconnected, context, std::move(gone));
}

void abort(QIODevice* socket) {
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->abort();
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        tcp->abort();
}

void flush(QIODevice* socket) {
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->flush();
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        tcp->flush();
}

void setReadBufferSize(QIODevice* socket, qint64 bytes) {
    if (auto* local = qobject_cast<QLocalSocket*>(socket))
        local->setReadBufferSize(bytes);
    else if (auto* tcp = qobject_cast<QAbstractSocket*>(socket))
        tcp->setReadBufferSize(bytes);
}

void closeAfterSending(QIODevice* socket, int graceMs) {
    QObject::connect(socket, &QIODevice::readyRead, socket, [socket] { socket->readAll(); });
    onDisconnected(socket, socket, [socket] { socket->deleteLater(); });
    QTimer::singleShot(graceMs, socket, [socket] {
        abort(socket);
        socket->deleteLater();
    });
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        // Closes (with TLS's close notice) once what waits is written.
        tls->disconnectFromHost();
        return;
    }
    // Half-close once the last line is out: the peer reads it, then the end,
    // even while it is still writing (closing outright could make it lose
    // the line).
    auto* local = qobject_cast<QLocalSocket*>(socket);
    if (!local)
        return;
    const auto shutWhenSent = [local] {
        if (local->bytesToWrite() == 0)
            ::shutdown(int(local->socketDescriptor()), SHUT_WR);
    };
    QObject::connect(local, &QLocalSocket::bytesWritten, local, shutWhenSent);
    local->flush();
    shutWhenSent();
    local->readAll();
}

} // namespace kv::adminsocket
