// Uploads: the data socket read into the open file, by splice or direct
// reads for binary type on a plain socket, converted for ASCII type.
#include "ftp/LineEndings.h"
#include "ftp/Transfer.h"

#include "ftp/StreamSocket.h"
#include "session/UploadQuota.h"
#include <QFile>
#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kv::ftp {

namespace {
// Bytes taken from the socket per read while uploading.
constexpr qint64 kReadChunk = 1024 * 1024;
// The first reads use a buffer this small: below malloc's mmap threshold, a
// small file's upload then maps, faults in and unmaps no megabyte of its own.
// A read that fills it grows it to kReadChunk.
constexpr qint64 kFirstReadChunk = 64 * 1024;
// Most bytes one direct-read burst takes before other clients get a turn.
constexpr qint64 kReadBurst = 8 * 1024 * 1024;
// Uploads start with plain reads and only splice past this size: for small
// files a pipe costs more system calls than the copy it saves.
constexpr qint64 kSpliceFrom = 256 * 1024;
// While the speed limits hold an upload, the socket's own buffer takes no
// more than this, so the kernel's fills and the TCP window closes.
constexpr qint64 kHeldReadBuffer = 64 * 1024;
} // namespace

ReceiveTransfer::ReceiveTransfer(StreamSocket* socket, std::unique_ptr<QFile> file, bool ascii,
                                 int lingerSeconds, QObject* parent)
    : Transfer(socket, lingerSeconds, parent), file_(std::move(file)), ascii_(ascii) {}

void ReceiveTransfer::setQuota(std::unique_ptr<session::UploadQuota> quota) {
    quota_ = std::move(quota);
}

ReceiveTransfer::~ReceiveTransfer() {
    stopSource();
    if (file_)
        file_->close();
}

void ReceiveTransfer::stopSource() {
    // The notifier may be the one calling us: it is only switched off here
    // and goes with this transfer.
    if (notifier_)
        notifier_->setEnabled(false);
    // An upload that did not complete: an overwrite leaves the old file.
    if (quota_ && !quota_->finished() && file_ && file_->isOpen())
        quota_->finish(false, file_->handle());
#ifdef Q_OS_LINUX
    for (int* fd : {&fd_, &pipe_[0], &pipe_[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
#endif
}

bool ReceiveTransfer::takeDescriptor() {
#ifdef Q_OS_LINUX
    // Only a plain socket: an encrypted one must keep its own reading.
    if (ascii_)
        return false;
    socket_->disconnect(this);
    const int fd = socket_->releaseDescriptor();
    if (fd < 0)
        return false;
    fd_ = fd;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ReceiveTransfer::readDirect);
    readDirect();
    return true;
#else
    return false;
#endif
}

bool ReceiveTransfer::spliceOnce(qint64& moved, qint64 max) {
#ifdef Q_OS_LINUX
    moved = 0;
    if (pipe_[0] < 0) {
        if (::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
            useSplice_ = false;
            return false;
        }
        ::fcntl(pipe_[1], F_SETPIPE_SZ, int(kReadChunk));
    }
    ssize_t n = -1;
    do {
        n = ::splice(fd_, nullptr, pipe_[1], nullptr, size_t(max),
                     SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    } while (n < 0 && errno == EINTR);
    if (n == 0) {
        complete();
        return true;
    }
    if (n < 0) {
        if (errno == EAGAIN)
            return true;
        if (errno == EINVAL && !spliced_) {
            useSplice_ = false;
            return false;
        }
        finish(TransferResult::Outcome::ConnectionLost, systemError());
        return true;
    }
    // Everything now in the pipe goes to the file before the next read; the
    // file descriptor blocks like any disk write.
    qint64 left = n;
    while (left > 0) {
        const ssize_t m =
            ::splice(pipe_[0], nullptr, file_->handle(), nullptr, size_t(left), SPLICE_F_MOVE);
        if (m < 0 && errno == EINTR)
            continue;
        if (m <= 0) {
            if (!spliced_ && left == n && errno == EINVAL) {
                // This file cannot take spliced data (append mode on some
                // kernels): drain the pipe by hand and stop splicing.
                useSplice_ = false;
                QByteArray tmp(int(left), Qt::Uninitialized);
                const ssize_t r = ::read(pipe_[0], tmp.data(), size_t(left));
                if (r > 0) {
                    bytes_ += r;
                    store(tmp.constData(), r);
                }
                moved = r;
                return true;
            }
            failWrite();
            return true;
        }
        left -= m;
        bytes_ += m;
        if (quota_) // it fit before the splice: readDirect() asked
            quota_->admit(-1, m);
        spliced_ = true;
    }
    moved = n;
    return true;
#else
    return false;
#endif
}

void ReceiveTransfer::readDirect() {
#ifdef Q_OS_LINUX
    qint64 budget = kReadBurst;
    while (!done_ && budget > 0) {
        const bool splicing =
            useSplice_ && bytes_ >= kSpliceFrom && (!quota_ || quota_->fits(kReadChunk));
        const qint64 may = allowed(splicing ? kReadChunk : buffer_.size(), [this] {
            notifier_->setEnabled(true);
            readDirect();
        });
        if (may == 0) {
            // The socket is not watched until the speed limits wake us.
            notifier_->setEnabled(false);
            return;
        }
        if (splicing) {
            qint64 moved = 0;
            if (!spliceOnce(moved, may))
                continue; // splicing is off now: plain reads from here on
            charge(moved);
            if (moved <= 0)
                return; // finished, failed, or nothing to read right now
            budget -= moved;
            continue;
        }
        const ssize_t n = ::read(fd_, buffer_.data(), size_t(may));
        if (n > 0) {
            bytes_ += n;
            budget -= n;
            charge(n);
            if (!store(buffer_.constData(), n))
                return;
            growBufferIfFilled(n);
            continue;
        }
        if (n == 0) {
            complete();
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return;
        finish(TransferResult::Outcome::ConnectionLost, systemError());
        return;
    }
#endif
}

void ReceiveTransfer::failWrite() {
#ifdef Q_OS_UNIX
    const int error = errno;
    const QString reason = systemError();
    if (error == ENOSPC || error == EDQUOT || error == EFBIG) {
        // What did fit stays, so the client can resume the upload (REST or
        // APPE) once there is room again.
        struct stat st {};
        const qint64 kept = ::fstat(file_->handle(), &st) == 0 ? qint64(st.st_size) : -1;
        finish(TransferResult::Outcome::StorageFull,
               QStringLiteral("%1, file parziale di %2 byte conservato").arg(reason).arg(kept));
        return;
    }
    finish(TransferResult::Outcome::WriteFailed, reason);
#else
    finish(TransferResult::Outcome::WriteFailed,
           QStringLiteral("scrittura del file non riuscita (%1)").arg(file_->errorString()));
#endif
}

void ReceiveTransfer::stopAtQuota() {
    if (quota_->replacing()) {
        finish(TransferResult::Outcome::QuotaExceeded,
               QStringLiteral("quota superata, file precedente conservato"));
        return;
    }
    struct stat st {};
    const qint64 kept = ::fstat(file_->handle(), &st) == 0 ? qint64(st.st_size) : -1;
    finish(TransferResult::Outcome::QuotaExceeded,
           QStringLiteral("quota superata, file parziale di %1 byte conservato").arg(kept));
}

void ReceiveTransfer::run() {
    buffer_.resize(kFirstReadChunk);
    if (ascii_)
        decoder_ = std::make_unique<AsciiDecoder>();
    // The client may have sent data, or everything, before we got here.
    drain();
    if (done_)
        return;
    if (!socket_->isConnected()) {
        onSocketClosed();
        return;
    }
    // A binary upload on a plain socket reads the descriptor itself and
    // never needs the socket's signals (a descriptor socket then makes no
    // notifier of its own). Bytes the speed limits left in the socket must
    // be read through it first.
    if (socket_->bytesAvailable() == 0 && takeDescriptor())
        return;
    connect(socket_, &StreamSocket::readyRead, this, &ReceiveTransfer::drain);
    connect(socket_, &StreamSocket::remoteClosed, this, &ReceiveTransfer::onSocketClosed);
    connect(socket_, &StreamSocket::failed, this, [this](const QString& reason) {
        if (!done_)
            finish(TransferResult::Outcome::ConnectionLost, reason);
    });
}

bool ReceiveTransfer::store(const char* data, qint64 size) {
    if (size <= 0)
        return true;
    // Taken from the account's quota before it is written; what does not
    // fit is not written, and the upload ends there.
    bool cut = false;
    if (quota_) {
        const qint64 fit = quota_->admit(-1, size);
        cut = fit < size;
        size = fit;
    }
#ifdef Q_OS_UNIX
    // Straight to the descriptor: QFile's write asks the file's type with
    // an fstat first, one system call more per uploaded file.
    while (size > 0) {
        const ssize_t n = ::write(file_->handle(), data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC; // a write that takes nothing: no room left
            failWrite();
            return false;
        }
        data += n;
        size -= n;
    }
#else
    if (file_->write(data, size) != size) {
        finish(TransferResult::Outcome::WriteFailed,
               QStringLiteral("scrittura del file non riuscita (%1)").arg(file_->errorString()));
        return false;
    }
#endif
    if (cut) {
        stopAtQuota();
        return false;
    }
    return true;
}

void ReceiveTransfer::drain() {
    while (!done_ && socket_->bytesAvailable() > 0) {
        const qint64 may = allowed(buffer_.size(), [this] {
            drain();
            if (closedWhileHeld_ && !done_ && socket_->bytesAvailable() == 0)
                onSocketClosed();
        });
        if (may == 0) {
            // Unread bytes wait in a bounded buffer: the client is slowed
            // by TCP itself until the speed limits wake us.
            if (!std::exchange(heldReading_, true))
                socket_->limitReadBuffer(kHeldReadBuffer);
            return;
        }
        const qint64 n = socket_->read(buffer_.data(), may);
        if (n <= 0)
            break;
        bytes_ += n;
        charge(n);
        if (decoder_) {
            decoder_->convert(QByteArrayView(buffer_.constData(), n), text_);
            if (!store(text_.constData(), text_.size()))
                return;
        } else if (!store(buffer_.constData(), n)) {
            return;
        }
        growBufferIfFilled(n);
    }
}

void ReceiveTransfer::growBufferIfFilled(qint64 lastRead) {
    if (lastRead == buffer_.size() && buffer_.size() < kReadChunk)
        buffer_.resize(kReadChunk);
}

void ReceiveTransfer::onSocketClosed() {
    if (done_)
        return;
    drain();
    if (done_)
        return;
    if (socket_->bytesAvailable() > 0) {
        closedWhileHeld_ = true; // the rest is read as the limits allow
        return;
    }
    if (decoder_) {
        const QByteArray tail = decoder_->finish();
        if (!store(tail.constData(), tail.size()))
            return;
    }
    complete();
}

void ReceiveTransfer::complete() {
    if (!file_->flush()) {
        finish(TransferResult::Outcome::WriteFailed,
               QStringLiteral("scrittura del file non riuscita (%1)").arg(file_->errorString()));
        return;
    }
#ifdef Q_OS_UNIX
    // What the file holds now, for the upload's event: an appended or
    // resumed upload wrote only its end.
    struct stat st {};
    if (::fstat(file_->handle(), &st) == 0)
        fileSize_ = qint64(st.st_size);
#endif
    if (quota_ && !quota_->finish(true, file_->handle())) {
        finish(TransferResult::Outcome::WriteFailed,
               QStringLiteral("sostituzione del file non riuscita (%1)").arg(systemError()));
        return;
    }
    file_->close();
    if (file_->error() != QFileDevice::NoError) {
        finish(TransferResult::Outcome::WriteFailed,
               QStringLiteral("scrittura del file non riuscita (%1)").arg(file_->errorString()));
        return;
    }
    finish(TransferResult::Outcome::Complete);
}

} // namespace kv::ftp
