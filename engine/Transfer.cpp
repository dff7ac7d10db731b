// What every transfer shares: ownership of the socket, the one result, and
// a close that lets the client read everything.
#include "engine/Transfer.h"

#include "engine/StreamSocket.h"

#include <cerrno>
#include <cstring>

namespace kv::engine {

Transfer::Transfer(StreamSocket* socket, int lingerSeconds, QObject* parent)
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
    if (outcome == TransferResult::Outcome::Complete) {
        // The socket lives on by itself until the client has everything.
        std::exchange(socket_, nullptr)->closeGracefully(linger_);
    } else {
        socket_->abort();
    }
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

} // namespace kv::engine
