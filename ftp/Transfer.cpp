// What every transfer shares: ownership of the socket, the one result, and
// a close that lets the client read everything.
#include "ftp/Transfer.h"

#include "ftp/SocketErrorText.h"

#include "files/FileSizeSignal.h"
#include "ftp/StreamSocket.h"
#include "session/RateLimiter.h"

#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv::ftp {

Transfer::Transfer(StreamSocket* socket, int lingerSeconds, QObject* parent)
    : QObject(parent), socket_(socket), linger_(lingerSeconds) {
    socket_->setParent(this);
    files::keepRunningPastFileSizeLimit();
}

void Transfer::start() {
    run();
    if (!done_ && stallSeconds_ > 0)
        watchForStall();
}

void Transfer::watchForStall() {
    lastProgress_ = progress();
    sinceProgress_.start();
    stallWatch_ = new QTimer(this);
    // Looked at every second at most, so a stall ends within a second of it.
    stallWatch_->setInterval(std::clamp(stallSeconds_ * 100, 100, 1000));
    connect(stallWatch_, &QTimer::timeout, this, &Transfer::checkProgress);
    stallWatch_->start();
}

void Transfer::checkProgress() {
    if (done_)
        return;
    const qint64 now = progress();
    // Waiting for the speed limits is no stall of the client's.
    if (now != lastProgress_ || (rate_ && rate_->waiting())) {
        lastProgress_ = now;
        sinceProgress_.restart();
        return;
    }
    if (sinceProgress_.elapsed() >= qint64(stallSeconds_) * 1000)
        finish(TransferResult::Outcome::ConnectionLost,
               QStringLiteral("nessun dato trasferito per %1 secondi").arg(stallSeconds_));
}

Transfer::~Transfer() = default;

void Transfer::finish(TransferResult::Outcome outcome, const QString& detail,
                      const QString& replyDetail) {
    if (done_)
        return;
    done_ = true;
    if (stallWatch_)
        stallWatch_->stop();
    releaseRate();
    stopSource();
    socket_->disconnect(this);
    if (outcome == TransferResult::Outcome::Complete) {
        // A socket closed at once (the usual small transfer: all bytes
        // already with the kernel) stays with this transfer and goes with
        // it, so no deferred deletion is posted per transfer. Otherwise it
        // lives on by itself until the client has everything.
        if (!socket_->closeAtOnce(linger_))
            std::exchange(socket_, nullptr)->lingerUntilClosed(linger_);
    } else {
        socket_->abort();
    }
    Q_EMIT finished(TransferResult{outcome, bytes_, detail, replyDetail,
                                   outcome == TransferResult::Outcome::Complete ? fileSize_ : -1});
}

TransferResult Transfer::abort() {
    if (!done_) {
        done_ = true;
        if (stallWatch_)
            stallWatch_->stop();
        releaseRate();
        stopSource();
        socket_->disconnect(this);
        socket_->abort();
    }
    return TransferResult{TransferResult::Outcome::Aborted, bytes_, QString(), QString()};
}

qint64 Transfer::allowed(qint64 want, std::function<void()> resume) {
    if (!rate_)
        return want;
    const qint64 n = rate_->allowance(want);
    if (n == 0 && want > 0)
        rate_->setWake(std::move(resume));
    return n;
}

void Transfer::charge(qint64 bytes) {
    if (rate_)
        rate_->charge(bytes);
}

void Transfer::releaseRate() {
    // The flow is the session's and outlives this transfer.
    if (rate_)
        std::exchange(rate_, nullptr)->setWake({});
}

QString Transfer::systemError() {
    return systemErrorText(errno);
}

} // namespace kv::ftp
