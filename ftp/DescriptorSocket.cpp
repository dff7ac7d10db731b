#include "ftp/DescriptorSocket.h"

#include "ftp/SocketErrorText.h"

#include <QMetaMethod>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::ftp {

namespace {
// Bytes taken from the socket per readiness.
constexpr qint64 kReadStep = 64 * 1024;
// Longest wait for queued bytes to leave before a closed socket is reset.
constexpr int kFlushLimitMs = 60000;

// A reset or broken pipe counts as the client's close, as for a QTcpSocket.
bool closedByClient(int error) {
    return error == 0 || error == ECONNRESET || error == EPIPE;
}

} // namespace

DescriptorSocket::DescriptorSocket(int descriptor, QObject* parent)
    : StreamSocket(parent), fd_(descriptor) {}

DescriptorSocket::~DescriptorSocket() {
    closeDescriptor();
}

void DescriptorSocket::connectNotify(const QMetaMethod& signal) {
    if (signal == QMetaMethod::fromSignal(&StreamSocket::readyRead) ||
        signal == QMetaMethod::fromSignal(&StreamSocket::remoteClosed) ||
        signal == QMetaMethod::fromSignal(&StreamSocket::failed))
        watchReading();
}

void DescriptorSocket::watchReading() {
    if (fd_ < 0 || ended_)
        return;
    if (!reading_) {
        reading_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(reading_, &QSocketNotifier::activated, this, &DescriptorSocket::onReadable);
    }
    reading_->setEnabled(true);
}

void DescriptorSocket::onReadable() {
    const qint64 had = received_.size();
    if (readLimit_ > 0 && had >= readLimit_ && !closing_) {
        readPaused_ = true;
        reading_->setEnabled(false);
        return;
    }
    received_.resize(had + kReadStep);
    ssize_t n = -1;
    do {
        n = ::recv(fd_, received_.data() + had, size_t(kReadStep), 0);
    } while (n < 0 && errno == EINTR);
    const int error = n < 0 ? errno : 0;
    received_.resize(had + std::max<ssize_t>(n, 0));
    if (n > 0) {
        if (closing_)
            received_.clear(); // read and dropped, so the close is no reset
        else
            Q_EMIT readyRead();
        return;
    }
    if (n < 0 && error == EAGAIN)
        return;
    endWith(error);
}

qint64 DescriptorSocket::read(char* data, qint64 max) {
    const qint64 n = std::min<qint64>(max, received_.size());
    if (n <= 0)
        return fd_ < 0 ? -1 : 0;
    std::memcpy(data, received_.constData(), size_t(n));
    received_.remove(0, n);
    if (readPaused_ && received_.size() < readLimit_) {
        readPaused_ = false;
        watchReading();
    }
    return n;
}

void DescriptorSocket::write(const QByteArray& data) {
    if (fd_ < 0 || data.isEmpty())
        return;
    unsent_.append(data);
    if (unsent_.size() == data.size())
        sendUnsent();
}

qint64 DescriptorSocket::sendUnsent() {
    // Whatever the kernel takes now goes at once; the rest waits for room.
    qint64 sent = 0;
    int error = 0;
    while (sent < unsent_.size()) {
        const ssize_t n = ::send(fd_, unsent_.constData() + sent, size_t(unsent_.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        error = errno;
        break;
    }
    unsent_.remove(0, sent);
    if (error != 0 && error != EAGAIN) {
        if (writing_)
            writing_->setEnabled(false);
        // Told on the next pass, never from inside the caller's write().
        QMetaObject::invokeMethod(
            this, [this, error] { endWith(error); }, Qt::QueuedConnection);
        return 0;
    }
    if (unsent_.isEmpty()) {
        if (writing_)
            writing_->setEnabled(false);
        if (closing_) {
            closeDescriptor();
            deleteLater();
        }
        return sent;
    }
    if (!writing_) {
        writing_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
        connect(writing_, &QSocketNotifier::activated, this, &DescriptorSocket::onWritable);
    }
    writing_->setEnabled(true);
    return sent;
}

void DescriptorSocket::onWritable() {
    // Only bytes that had to wait are reported, and never from inside the
    // caller's write(), as a QTcpSocket does.
    if (sendUnsent() > 0 && !closing_)
        Q_EMIT bytesWritten();
}

void DescriptorSocket::endWith(int error) {
    if (reading_)
        reading_->setEnabled(false);
    if (closing_) {
        closeDescriptor();
        deleteLater();
        return;
    }
    error_ = systemErrorText(error);
    reportEnd(closedByClient(error), error_);
}

int DescriptorSocket::releaseDescriptor() {
    if (reading_)
        reading_->setEnabled(false);
    return std::exchange(fd_, -1);
}

void DescriptorSocket::closeDescriptor() {
    // The notifiers may be the ones calling: they are switched off and go
    // with this object.
    if (reading_)
        reading_->setEnabled(false);
    if (writing_)
        writing_->setEnabled(false);
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

void DescriptorSocket::abort() {
    closeDescriptor();
    unsent_.clear();
    received_.clear();
}

bool DescriptorSocket::closeAtOnce(int lingerSeconds) {
    if (fd_ >= 0 && !ended_ && (lingerSeconds > 0 || !unsent_.isEmpty()))
        return false;
    closeDescriptor();
    return true;
}

void DescriptorSocket::lingerUntilClosed(int lingerSeconds) {
    setParent(nullptr);
    closing_ = true;
    limit_ = new QTimer(this);
    limit_->setSingleShot(true);
    connect(limit_, &QTimer::timeout, this, [this] {
        abort();
        deleteLater();
    });
    if (!unsent_.isEmpty()) {
        limit_->start(kFlushLimitMs); // sendUnsent() closes once all is out
        return;
    }
    // Our end-of-data goes now; the client closes when it has read it.
    ::shutdown(fd_, SHUT_WR);
    watchReading();
    limit_->start(lingerSeconds * 1000);
}

} // namespace kv::ftp
