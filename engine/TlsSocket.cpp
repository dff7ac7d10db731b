// The TLS stream: OpenSSL reads records straight from the TCP socket's
// buffer and writes them straight to the kernel (or the TCP socket's queue
// when the kernel is full), the handshake with its time limit, decryption
// paced by the reader and encryption paced by the kernel.
#include "engine/TlsSocket.h"

#include "engine/TlsContext.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstring>
#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#endif

namespace kv::engine {

namespace {
// Plain bytes encrypted per SSL_write: one full record, so that when the
// kernel stops taking records at most one of them waits in the TCP socket.
constexpr qint64 kEncryptChunk = 16 * 1024;
// Most plain bytes one TLS record holds: SSL_read never returns more.
constexpr qint64 kRecordBytes = 16 * 1024;
// Encrypt ahead only while the TCP socket holds less than this.
constexpr qint64 kEncryptAhead = 512 * 1024;
// Random bytes naming a control connection inside its tickets.
constexpr int kTokenBytes = 16;

QString lastError(const char* what) {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0)
        return QString::fromLatin1(what);
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return QStringLiteral("%1: %2").arg(QLatin1StringView(what), QLatin1StringView(buf));
}
} // namespace

// OpenSSL's side of the TCP socket: reads take what the socket has buffered
// (an empty buffer means "more later", never the end: the socket reports the
// end itself), writes are always taken whole.
BIO_METHOD* TlsSocket::bioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kv-tcp");
        if (!m)
            return m;
        BIO_meth_set_create(m, [](BIO* b) {
            BIO_set_init(b, 1);
            return 1;
        });
        BIO_meth_set_read_ex(m, [](BIO* b, char* out, size_t len, size_t* done) {
            BIO_clear_retry_flags(b);
            auto* self = static_cast<TlsSocket*>(BIO_get_data(b));
            const qint64 n = self && self->tcp_ ? self->tcp_->read(out, qint64(len)) : 0;
            *done = size_t(std::max<qint64>(n, 0));
            if (n > 0)
                return 1;
            BIO_set_retry_read(b);
            return 0;
        });
        BIO_meth_set_write_ex(m, [](BIO* b, const char* data, size_t len, size_t* done) {
            if (auto* self = static_cast<TlsSocket*>(BIO_get_data(b)))
                self->sendRecords(data, qint64(len));
            *done = len;
            return 1;
        });
        BIO_meth_set_ctrl(
            m, [](BIO*, int cmd, long, void*) -> long { return cmd == BIO_CTRL_FLUSH ? 1 : 0; });
        return m;
    }();
    return method;
}

TlsSocket::TlsSocket(QTcpSocket* tcp, const TlsContext& context, Role role, int handshakeMs,
                     QObject* parent)
    : StreamSocket(tcp, parent), data_(role == Role::Data) {
    if (role == Role::Control) {
        token_.resize(kTokenBytes);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(token_.data()),
                                              kTokenBytes / 4);
        ssl_ = context.newControlConnection(&token_);
    } else {
        ssl_ = context.newDataConnection();
    }
    connect(tcp_, &QTcpSocket::readyRead, this, &TlsSocket::pump);
    connect(tcp_, &QTcpSocket::bytesWritten, this, [this] {
        encryptPending();
        Q_EMIT bytesWritten();
    });
    // What arrived with the end is decrypted before the end is reported.
    connect(tcp_, &QTcpSocket::disconnected, this, [this] {
        tcpEnded_ = true;
        readLimit_ = std::numeric_limits<qint64>::max(); // nothing more will come: take it all
        pump();
        reportEnd(true, QString());
    });
    connect(tcp_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        tcpEnded_ = true;
        if (e == QAbstractSocket::RemoteHostClosedError) {
            readLimit_ = std::numeric_limits<qint64>::max();
            pump();
        }
        reportEnd(e == QAbstractSocket::RemoteHostClosedError, tcp_->errorString());
    });
    handshakeTimer_.setSingleShot(true);
    connect(&handshakeTimer_, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("TLS handshake timed out")); });
    BIO* bio = bioMethod() ? BIO_new(bioMethod()) : nullptr;
    if (!ssl_ || !bio) {
        BIO_free(bio);
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("TLS unavailable")); }, Qt::QueuedConnection);
        return;
    }
    BIO_set_data(bio, this);
    SSL_set_bio(ssl_, bio, bio); // one reference, for reading and writing
    SSL_set_accept_state(ssl_);
    handshakeTimer_.start(handshakeMs);
    if (tcp_->bytesAvailable() > 0)
        schedulePump();
}

TlsSocket::~TlsSocket() {
    if (tcp_)
        tcp_->disconnect(this);
    if (ssl_)
        BIO_set_data(SSL_get_rbio(ssl_), nullptr);
    SSL_free(ssl_); // frees the BIO too
}

qint64 TlsSocket::read(char* data, qint64 max) {
    const qint64 n = std::min(max, bytesAvailable());
    if (n <= 0)
        return 0;
    const bool wasFull = bytesAvailable() >= readLimit_;
    std::memcpy(data, in_.constData() + inPos_, size_t(n));
    inPos_ += n;
    if (inPos_ == in_.size()) {
        // An idle control connection keeps no buffer; a data connection
        // keeps it for the next records of its transfer.
        if (data_)
            in_.resize(0);
        else
            in_.clear();
        inPos_ = 0;
    }
    if (wasFull)
        schedulePump(); // reading from the TCP socket paused for us
    return n;
}

void TlsSocket::write(const QByteArray& data) {
    if (broken_)
        return;
    if (outPos_ == out_.size())
        out_ = data; // shared, not copied
    else
        out_.append(data);
    encryptPending();
}

qint64 TlsSocket::bytesToWrite() const {
    // Bytes sent directly count as queued until the event loop has reported
    // them, as the TCP socket's own do: a writer then yields to the other
    // connections after each portion instead of filling the kernel at once.
    return (out_.size() - outPos_) + sentUnreported_ + (tcp_ ? tcp_->bytesToWrite() : 0);
}

bool TlsSocket::isConnected() const {
    return handshakeDone_ && !broken_ && tcp_ && tcp_->state() == QAbstractSocket::ConnectedState;
}

QString TlsSocket::protectionSummary() const {
    if (!ssl_ || !handshakeDone_)
        return {};
    const char* cipher = SSL_CIPHER_get_name(SSL_get_current_cipher(ssl_));
    return QStringLiteral("%1 %2").arg(QLatin1StringView(SSL_get_version(ssl_)),
                                       QLatin1StringView(cipher ? cipher : "?"));
}

void TlsSocket::issueSessionTicket() {
    if (!isConnected() || SSL_version(ssl_) != TLS1_3_VERSION)
        return;
    // The ticket goes out with the next handshake step, taken here at once.
    if (SSL_new_session_ticket(ssl_) == 1)
        SSL_do_handshake(ssl_);
    ERR_clear_error();
}

bool TlsSocket::isResumed() const {
    return handshakeDone_ && SSL_session_reused(ssl_) == 1;
}

bool TlsSocket::resumedSessionOf(const TlsSocket& control) const {
    return handshakeDone_ && TlsContext::resumedFrom(ssl_, control.ssl_, control.token_);
}

void TlsSocket::sendCloseNotify() {
    if (!handshakeDone_ || broken_ || tcpEnded_)
        return;
    // Everything written goes before the alert, whatever the kernel holds.
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
}

void TlsSocket::schedulePump() {
    if (std::exchange(pumpQueued_, true))
        return;
    QMetaObject::invokeMethod(this, &TlsSocket::pump, Qt::QueuedConnection);
}

void TlsSocket::pump() {
    pumpQueued_ = false;
    if (broken_ || !tcp_ || !ssl_)
        return;
    QPointer<TlsSocket> self(this);
    const qint64 before = bytesAvailable();
    if (!handshakeDone_) {
        ERR_clear_error();
        const int r = SSL_do_handshake(ssl_);
        if (r != 1) {
            if (SSL_get_error(ssl_, r) != SSL_ERROR_WANT_READ)
                fail(lastError("TLS handshake failed"));
            return;
        }
        handshakeDone_ = true;
        handshakeTimer_.stop();
        encryptPending();
        Q_EMIT encrypted();
        if (!self || broken_)
            return;
    }
    readRecords();
    if (self && !broken_ && bytesAvailable() > before)
        Q_EMIT readyRead();
}

void TlsSocket::readRecords() {
    while (!closeNotified_ && bytesAvailable() < readLimit_) {
        ERR_clear_error();
        // Decrypted straight into the buffer the reader takes from.
        const qsizetype used = in_.size();
        in_.resize(used + kRecordBytes);
        const int n = SSL_read(ssl_, in_.data() + used, int(kRecordBytes));
        in_.resize(used + std::max(n, 0));
        if (n > 0)
            continue;
        const int e = SSL_get_error(ssl_, n);
        if (e == SSL_ERROR_WANT_READ)
            return;
        if (e == SSL_ERROR_ZERO_RETURN) {
            // close_notify: the client's end of data. Its FIN follows.
            SSL_shutdown(ssl_);
            closeNotified_ = true;
            QMetaObject::invokeMethod(
                this, [this] { reportEnd(true, QString()); }, Qt::QueuedConnection);
            return;
        }
        fail(lastError("TLS read failed"));
        return;
    }
}

void TlsSocket::encryptPending() {
    if (!handshakeDone_ || broken_ || !tcp_)
        return;
    // Records are made only while the kernel takes them as they come: once
    // it is full, the rest waits here unencrypted until the TCP socket has
    // passed on the record it holds. Queuing hundreds of KiB of records in
    // the TCP socket instead cost a copy, fresh memory and its page faults
    // for each of them.
    while (outPos_ < out_.size() && tcp_->bytesToWrite() == 0 && sentUnreported_ < kEncryptAhead) {
        ERR_clear_error();
        const int n = SSL_write(ssl_, out_.constData() + outPos_,
                                int(std::min<qint64>(out_.size() - outPos_, kEncryptChunk)));
        if (n <= 0) {
            fail(lastError("TLS write failed"));
            return;
        }
        outPos_ += n;
    }
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

void TlsSocket::fail(const QString& reason) {
    if (std::exchange(broken_, true))
        return;
    handshakeTimer_.stop();
    ERR_clear_error();
    reportEnd(false, reason);
}

} // namespace kv::engine
