// The sending side of the TLS stream: written bytes encrypted as the kernel
// takes them, the records of one pass gathered and sent together straight to
// the kernel (or to the TCP socket's queue when the kernel is full), and the
// close_notify alert after everything written.
#include "ftp/TlsSocket.h"

#include <QTcpSocket>

#include <openssl/err.h>
#include <openssl/ssl.h>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#endif

namespace kv::ftp {

namespace {
// Plain bytes encrypted per SSL_write.
constexpr qint64 kEncryptChunk = 64 * 1024;
// Encrypt ahead only while the TCP socket holds less than this.
constexpr qint64 kEncryptAhead = 512 * 1024;
// Records gathered before one send: a system call per record costs more
// than copying the record once.
constexpr qint64 kSendBatch = 256 * 1024;
} // namespace

void TlsSocket::sendCloseNotify() {
    if (!handshakeDone_ || broken_ || tcpEnded_)
        return;
    // Everything written goes before the alert, whatever the kernel holds,
    // all of it in as few sends as the kernel takes.
    batching_ = true;
    while (outPos_ < out_.size()) {
        const int n = SSL_write(ssl_, out_.constData() + outPos_,
                                int(std::min<qint64>(out_.size() - outPos_, kEncryptChunk)));
        if (n <= 0)
            break;
        outPos_ += n;
    }
    out_.clear();
    outPos_ = 0;
    SSL_shutdown(ssl_);
    ERR_clear_error();
    batching_ = false;
    flushBatch();
}

void TlsSocket::encryptPending() {
    if (!handshakeDone_ || broken_ || !tcp_)
        return;
    batching_ = true;
    while (outPos_ < out_.size() &&
           tcp_->bytesToWrite() + sentUnreported_ + batch_.size() < kEncryptAhead) {
        ERR_clear_error();
        const int n = SSL_write(ssl_, out_.constData() + outPos_,
                                int(std::min<qint64>(out_.size() - outPos_, kEncryptChunk)));
        if (n <= 0) {
            batching_ = false;
            flushBatch();
            fail(lastError("scrittura TLS non riuscita"));
            return;
        }
        outPos_ += n;
        if (batch_.size() >= kSendBatch)
            flushBatch();
    }
    batching_ = false;
    flushBatch();
    if (outPos_ == out_.size()) {
        out_.clear();
        outPos_ = 0;
    } else if (outPos_ > out_.size() / 2) {
        out_.remove(0, outPos_);
        outPos_ = 0;
    }
}

void TlsSocket::sendRecords(const char* data, qint64 n) {
    if (!tcp_ || n <= 0)
        return;
    if (batching_) {
        batch_.append(data, n);
        return;
    }
    sendNow(data, n);
}

void TlsSocket::flushBatch() {
    if (batch_.isEmpty())
        return;
    sendNow(batch_.constData(), batch_.size());
    // A data connection keeps the capacity for its next batch; an idle
    // control connection keeps nothing.
    if (data_)
        batch_.resize(0);
    else
        batch_.clear();
}

void TlsSocket::sendNow(const char* data, qint64 n) {
    qint64 sent = 0;
#ifdef Q_OS_UNIX
    // With nothing queued in the TCP socket the records go straight to the
    // kernel, saving their copy through its write buffer; what the kernel
    // does not take (and any error) is left to the TCP socket.
    if (tcp_->bytesToWrite() == 0 && tcp_->state() == QAbstractSocket::ConnectedState) {
        const int fd = int(tcp_->socketDescriptor());
        while (sent < n) {
            const ssize_t k =
                ::send(fd, data + sent, size_t(n - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (k > 0)
                sent += k;
            else if (k < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        if (sent > 0) {
            sentUnreported_ += sent;
            scheduleWritten();
        }
    }
#endif
    if (sent < n)
        tcp_->write(data + sent, n - sent);
}

void TlsSocket::scheduleWritten() {
    // The TCP socket reports only what went through its own queue, so the
    // bytes sent directly are reported here, from the event loop as it does.
    if (std::exchange(writtenQueued_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            writtenQueued_ = false;
            sentUnreported_ = 0;
            if (broken_ || !tcp_)
                return;
            encryptPending();
            Q_EMIT bytesWritten();
        },
        Qt::QueuedConnection);
}

} // namespace kv::ftp
