// Downloads and listings: a file (by sendfile where it can, else in chunks,
// converted for ASCII type) or text, made as the socket drains, written to
// the data socket.
#include "ftp/LineEndings.h"
#include "ftp/Transfer.h"

#include "ftp/StreamSocket.h"
#include <QFile>
#include <QSocketNotifier>
#include <algorithm>

#ifdef Q_OS_LINUX
#include <QTcpSocket>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#endif

namespace kv::ftp {

namespace {
// Bytes read from disk per step for chunked sending.
constexpr qint64 kChunk = 256 * 1024;
// Refill the socket when less than this is queued in it.
constexpr qint64 kLowWater = 256 * 1024;
// The same for text made as it goes (listings): little, so a client that
// stops reading holds little; the kernel's own queue of unsent bytes is
// kept as small (TCP_NOTSENT_LOWAT), which leaves bytes in flight alone.
constexpr qint64 kTextLowWater = 32 * 1024;
// Most bytes one sendfile burst moves before other clients get a turn.
constexpr qint64 kSendfileBurst = 8 * 1024 * 1024;
} // namespace

// The size comes from the command that opened the file, which asked for it
// already: one fstat less per download.
SendTransfer::SendTransfer(StreamSocket* socket, std::unique_ptr<QFile> file, qint64 offset,
                           qint64 size, bool ascii, int lingerSeconds, QObject* parent)
    : Transfer(socket, lingerSeconds, parent), file_(std::move(file)), offset_(offset), end_(size),
      ascii_(ascii) {}

SendTransfer::SendTransfer(StreamSocket* socket, QByteArray data, int lingerSeconds,
                           QObject* parent, std::function<QByteArray()> more)
    : Transfer(socket, lingerSeconds, parent), data_(std::move(data)), more_(std::move(more)) {}

SendTransfer::~SendTransfer() {
    stopSource();
}

void SendTransfer::stopSource() {
    // The notifier may be the one calling us: it is only switched off here
    // and goes with this transfer.
    if (notifier_)
        notifier_->setEnabled(false);
    if (file_)
        file_->close();
    more_ = nullptr; // lets the folder go
}

void SendTransfer::onSocketGone() {
    if (!done_)
        finish(TransferResult::Outcome::ConnectionLost, socket_->errorString());
}

void SendTransfer::watchClient() {
    connect(socket_, &StreamSocket::remoteClosed, this, &SendTransfer::onSocketGone);
    connect(socket_, &StreamSocket::failed, this, &SendTransfer::onSocketGone);
    // Anything the client sends on a download connection is thrown away.
    connect(socket_, &StreamSocket::readyRead, this, [this] { socket_->readAll(); });
}

qint64 SendTransfer::progress() const {
    // Text is handed to the socket a piece at a time: what moved is what
    // was handed less what the socket still holds.
    if (!file_ && socket_)
        return handed_ - socket_->bytesToWrite();
    return bytes_;
}

void SendTransfer::failRead() {
    finish(TransferResult::Outcome::ReadFailed,
           QStringLiteral("lettura del file non riuscita (%1)").arg(file_->errorString()),
           file_->errorString());
}

void SendTransfer::finishShort() {
    finish(TransferResult::Outcome::ReadFailed,
           QStringLiteral("file accorciato durante il trasferimento, inviati %1 byte su %2")
               .arg(bytes_)
               .arg(end_ - offset_),
           QStringLiteral("file shortened during the transfer, %1 of %2 bytes sent")
               .arg(bytes_)
               .arg(end_ - offset_));
}

void SendTransfer::run() {
    if (!socket_->isConnected()) {
        finish(TransferResult::Outcome::ConnectionLost,
               QStringLiteral("connessione dati non aperta"));
        return;
    }
    // The client's end is only watched when the transfer has to wait: most
    // small files and listings are with the kernel at once, and a descriptor
    // socket then never makes a notifier for it.
    if (!file_) {
        if (more_)
            keepKernelQueueShort();
        if (!data_.isEmpty())
            socket_->write(data_);
        handed_ = data_.size();
        data_ = QByteArray();
        pumpText();
        if (done_)
            return;
        watchClient();
        connect(socket_, &StreamSocket::bytesWritten, this, &SendTransfer::pumpText);
        return;
    }
#ifdef Q_OS_LINUX
    // Zero-copy only on a plain socket; TLS records are made here.
    if (!ascii_ && file_->handle() >= 0 && socket_->zeroCopyDescriptor() >= 0) {
        pumpSendfile();
        if (!done_)
            watchClient();
        return;
    }
#endif
    watchClient();
    startChunks();
}

// A listing is made only as fast as the client takes it: a stalled client
// holds one piece of it, not all of it.
void SendTransfer::pumpText() {
    if (done_)
        return;
    while (more_ && socket_->bytesToWrite() < kTextLowWater) {
        const QByteArray piece = more_();
        if (piece.isEmpty()) {
            more_ = nullptr;
            break;
        }
        handed_ += piece.size();
        socket_->write(piece);
    }
    if (!more_ && socket_->bytesToWrite() == 0) {
        bytes_ = handed_;
        finish(TransferResult::Outcome::Complete);
    }
}

void SendTransfer::keepKernelQueueShort() {
#ifdef Q_OS_LINUX
    const qintptr plain = socket_->zeroCopyDescriptor();
    const qintptr fd = plain >= 0       ? plain
                       : socket_->tcp() ? socket_->tcp()->socketDescriptor()
                                        : -1;
    const int limit = int(kTextLowWater);
    if (fd >= 0)
        ::setsockopt(int(fd), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &limit, sizeof limit);
#endif
}

void SendTransfer::startChunks() {
    if (ascii_)
        encoder_ = std::make_unique<AsciiEncoder>();
    if (!file_->seek(offset_)) {
        failRead();
        return;
    }
    connect(socket_, &StreamSocket::bytesWritten, this, &SendTransfer::pumpChunks);
    pumpChunks();
}

void SendTransfer::pumpChunks() {
    if (done_)
        return;
    while (!eof_ && socket_->bytesToWrite() < kLowWater) {
        // No more than the 150 reply announced, even if the file grew since.
        const qint64 want = end_ < 0 ? kChunk : std::min(kChunk, end_ - offset_ - bytes_);
        if (want <= 0) {
            eof_ = true;
            break;
        }
        const qint64 may = allowed(want, [this] { pumpChunks(); });
        if (may == 0)
            return; // the speed limits wake us
        // Each chunk is read into the memory of the one before (the socket
        // has encrypted or sent that by now): a protected download then
        // allocates and faults in its buffer once instead of per chunk.
        const qint64 n = file_->read(reuseBuffer(chunk_, kChunk), may);
        if (n <= 0) {
            if (n < 0 || file_->error() != QFileDevice::NoError) {
                failRead();
                return;
            }
            if (end_ >= 0 && offset_ + bytes_ < end_) {
                finishShort();
                return;
            }
            eof_ = true;
            break;
        }
        chunk_.resize(n);
        bytes_ += n;
        charge(n);
        if (encoder_) {
            encoder_->convert(chunk_, wire_);
            socket_->write(wire_);
        } else {
            socket_->write(chunk_);
        }
    }
    if (eof_ && socket_->bytesToWrite() == 0)
        finish(TransferResult::Outcome::Complete);
}

#ifdef Q_OS_LINUX
namespace {
// Whether the process ignores SIGPIPE, asked once: the host settles it before
// the first transfer (FtpServer ignores it unless the host handles it).
bool sigpipeIgnored() {
    static const bool ignored = [] {
        struct sigaction current {};
        return ::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
    }();
    return ignored;
}

// sendfile() has no MSG_NOSIGNAL: a peer that reset the connection would raise
// SIGPIPE, and whether that is ignored depends on the host program (a test
// runner, for one, catches it). Unless it is ignored, block it for the call
// and swallow the one the call raised, so a vanishing client is only ever an
// EPIPE error here (blocking costs two system calls per call).
ssize_t sendfileWithoutSigpipe(int out, int in, off_t* offset, size_t count) {
    if (sigpipeIgnored())
        return ::sendfile(out, in, offset, count);
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    const ssize_t sent = ::sendfile(out, in, offset, count);
    const int sendError = errno;
    // A reset can also come after part of the bytes went: the call then
    // reports them, and the signal is pending all the same.
    if (sent != ssize_t(count) && !sigismember(&previous, SIGPIPE)) {
        sigset_t pending;
        if (::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
            const timespec noWait{};
            while (::sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = sendError;
    return sent;
}
} // namespace
#endif

void SendTransfer::pumpSendfile() {
#ifdef Q_OS_LINUX
    if (done_)
        return;
    // The kernel copies straight from the page cache into the socket; the
    // descriptor is non-blocking, so a full socket gives EAGAIN and we wait
    // for the notifier to say it is writable again.
    const int out = int(socket_->zeroCopyDescriptor());
    const int in = file_->handle();
    qint64 budget = kSendfileBurst;
    while (budget > 0) {
        const qint64 pos = offset_ + bytes_;
        if (pos >= end_) {
            finish(TransferResult::Outcome::Complete);
            return;
        }
        off_t off = off_t(pos);
        const qint64 want =
            allowed(std::min<qint64>(end_ - pos, budget), [this] { pumpSendfile(); });
        if (want == 0) {
            // Not a byte now: the client's socket is not watched until the
            // speed limits wake us.
            if (notifier_)
                notifier_->setEnabled(false);
            return;
        }
        const ssize_t sent = sendfileWithoutSigpipe(out, in, &off, size_t(want));
        if (sent > 0) {
            bytes_ += sent;
            budget -= sent;
            charge(sent);
            continue;
        }
        if (sent == 0) { // the file got shorter while we were sending it
            finishShort();
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            break;
        if ((errno == EINVAL || errno == ENOSYS) && bytes_ == 0) {
            // No zero-copy for this file: fall back to reading chunks.
            if (notifier_)
                notifier_->setEnabled(false);
            startChunks();
            return;
        }
        const bool peerGone = (errno == EPIPE || errno == ECONNRESET);
        finish(peerGone ? TransferResult::Outcome::ConnectionLost
                        : TransferResult::Outcome::ReadFailed,
               systemError());
        return;
    }
    // Most small files fit into the socket at once; the notifier is only
    // made for the ones that have to wait.
    if (!notifier_) {
        notifier_ = new QSocketNotifier(out, QSocketNotifier::Write, this);
        connect(notifier_, &QSocketNotifier::activated, this, &SendTransfer::pumpSendfile);
    }
    notifier_->setEnabled(true);
#endif
}

} // namespace kv::ftp
