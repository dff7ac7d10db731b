// What every transfer shares: ownership of the socket, the one result, and
// a close that lets the client read everything.
#include "engine/Transfer.h"

#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace kv::engine {

namespace {
// Longest wait for queued bytes to leave before a closed data socket is reset.
constexpr int kFlushLimitMs = 60000;
} // namespace

Transfer::Transfer(QTcpSocket* socket, int lingerSeconds, QObject* parent)
    : QObject(parent), socket_(socket), linger_(lingerSeconds) {
    socket_->setParent(this);
}

Transfer::~Transfer() = default;

void Transfer::finish(TransferResult::Outcome outcome, const QString& detail) {
    if (done_)
        return;
    done_ = true;
    stopSource();
    socket_->disconnect(this);
    if (outcome == TransferResult::Outcome::Complete)
        closeSocketGracefully();
    else
        socket_->abort();
    Q_EMIT finished(TransferResult{outcome, bytes_, detail});
}

TransferResult Transfer::abort() {
    if (!done_) {
        done_ = true;
        stopSource();
        socket_->disconnect(this);
        socket_->abort();
    }
    return TransferResult{TransferResult::Outcome::Aborted, bytes_, QString()};
}

QString Transfer::systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

void Transfer::closeSocketGracefully() {
    if (linger_ <= 0 || socket_->state() != QAbstractSocket::ConnectedState ||
        socket_->bytesToWrite() > 0) {
        socket_->disconnectFromHost();
        // Usually closed at once (nothing left to send): the socket then
        // simply goes with this transfer, with no deferred deletion.
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            return;
    }
    // The socket outlives this transfer until it has closed by itself; its
    // own timer makes sure it never stays around for ever, and goes with it.
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    socket->setParent(nullptr);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto* limit = new QTimer(socket);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // Send our end-of-data but keep reading until the client closes, so
        // unread bytes from the client never turn the close into a reset
        // that could cost the client the tail of the data.
#ifdef Q_OS_UNIX
        ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
#endif
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        limit->start(linger_ * 1000);
        return;
    }
    limit->start(kFlushLimitMs);
}

} // namespace kv::engine
