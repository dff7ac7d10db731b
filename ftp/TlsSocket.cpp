// The TLS stream: OpenSSL reads records straight from the TCP socket's
// buffer, the handshake with its time limit and decryption paced by the
// reader. The sending side is in TlsSocketSend.cpp.
#include "ftp/TlsSocket.h"

#include "ftp/SocketErrorText.h"

#include "ftp/TlsContext.h"

#include <QPointer>
#include <QTcpSocket>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstring>
#include <limits>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace kv::ftp {

namespace {
// Most plain bytes one TLS record holds: SSL_read never returns more.
constexpr qint64 kRecordBytes = 16 * 1024;
} // namespace

QString TlsSocket::lastError(const char* what) {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0)
        return QString::fromUtf8(what);
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QLatin1StringView(buf));
}

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
            // A socket already closed (aborted) is not asked: QIODevice would
            // complain on standard error.
            const qint64 n =
                self && self->tcp_ && self->tcp_->isOpen() ? self->tcp_->read(out, qint64(len)) : 0;
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
    : StreamSocket(tcp, parent), owner_(role == Role::Control ? context.liveOwners() : nullptr),
      data_(role == Role::Data) {
    if (role == Role::Control) {
        ssl_ = context.newControlConnection(&owner_);
    } else {
        ssl_ = context.newDataConnection();
    }
    connect(tcp_, &QTcpSocket::readyRead, this, [this] {
        // A control connection's replies carry its acknowledgements once
        // the handshake is over.
        if (data_ || !handshakeDone_)
            acknowledgeNow();
        pump();
    });
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
        reportEnd(e == QAbstractSocket::RemoteHostClosedError, socketErrorText(e));
    });
    handshakeTimer_.setSingleShot(true);
    connect(&handshakeTimer_, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("negoziazione TLS scaduta")); });
    BIO* bio = bioMethod() ? BIO_new(bioMethod()) : nullptr;
    if (!ssl_ || !bio) {
        BIO_free(bio);
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("TLS non disponibile")); }, Qt::QueuedConnection);
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
    qint64 n = std::min(max, bytesAvailable());
    if (n <= 0)
        return 0;
    const bool wasFull = bytesAvailable() >= heldLimit();
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
        if (data_ && !broken_) {
            // The records already here are decrypted straight into the
            // reader's buffer, saving their copy through ours; one more is
            // held back so that bytesAvailable() still tells there is more.
            QPointer<TlsSocket> self(this);
            n += decryptInto(data + n, max - n);
            if (!self)
                return n;
            readRecords();
            if (self && bytesAvailable() > 0) {
                readyOwed_ = true;
                schedulePump();
            }
            return n;
        }
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

void TlsSocket::abort() {
    // Nothing more is read or written: a pump already queued finds it broken.
    broken_ = true;
    handshakeTimer_.stop();
    StreamSocket::abort();
}

QString TlsSocket::protectionSummary() const {
    if (!ssl_ || !handshakeDone_)
        return {};
    const char* cipher = SSL_CIPHER_get_name(SSL_get_current_cipher(ssl_));
    return QStringLiteral("%1 %2").arg(QLatin1StringView(SSL_get_version(ssl_)),
                                       QLatin1StringView(cipher ? cipher : "?"));
}

void TlsSocket::issueSessionTicket(qint32 accountId, const QString& login,
                                   const QHostAddress& client) {
    if (!isConnected() || data_)
        return;
    owner_.bind(accountId, login, client);
    TlsContext::issueTicket(ssl_, owner_);
}

bool TlsSocket::isResumed() const {
    return handshakeDone_ && SSL_session_reused(ssl_) == 1;
}

bool TlsSocket::resumedSessionOf(const TlsSocket& control) const {
    return handshakeDone_ && TlsContext::resumedFrom(ssl_, control.ssl_, control.owner_);
}

void TlsSocket::acknowledgeNow() {
#ifdef Q_OS_LINUX
    // What just arrived is acknowledged at once rather than up to 40 ms
    // later. A client's small record written right after another (its
    // Finished after ChangeCipherSpec, its first data after Finished, the
    // close_notify that ends an upload) waits in its Nagle algorithm until
    // that acknowledgement; meanwhile the client waits for our answer, which
    // cannot come before the record. The kernel turns this back off by
    // itself, so it is asked again after each read.
    const int on = 1;
    ::setsockopt(int(tcp_->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
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
                fail(lastError("negoziazione TLS non riuscita"));
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
    const bool owed = std::exchange(readyOwed_, false);
    if (self && !broken_ && (bytesAvailable() > before || (owed && bytesAvailable() > 0)))
        Q_EMIT readyRead();
}

qint64 TlsSocket::heldLimit() const {
    // A data connection holds one record at a time: the reader takes the
    // rest straight from OpenSSL. Once the TCP connection is over it takes
    // everything, as the end is reported right after.
    return data_ && !tcpEnded_ ? std::min(readLimit_, kRecordBytes) : readLimit_;
}

void TlsSocket::readRecords() {
    while (bytesAvailable() < heldLimit()) {
        // Decrypted straight into the buffer the reader takes from.
        const qsizetype used = in_.size();
        in_.resize(used + kRecordBytes);
        const qint64 n = decryptInto(in_.data() + used, kRecordBytes);
        in_.resize(used + n);
        if (n <= 0)
            return;
    }
}

qint64 TlsSocket::decryptInto(char* out, qint64 room) {
    qint64 done = 0;
    while (done < room && !closeNotified_ && !broken_) {
        ERR_clear_error();
        const int chunk = int(std::min<qint64>(room - done, std::numeric_limits<int>::max()));
        const int n = SSL_read(ssl_, out + done, chunk);
        if (n > 0) {
            done += n;
            continue;
        }
        const int e = SSL_get_error(ssl_, n);
        if (e == SSL_ERROR_WANT_READ)
            break;
        if (e == SSL_ERROR_ZERO_RETURN) {
            // close_notify: the client's end of data. Its FIN follows.
            SSL_shutdown(ssl_);
            closeNotified_ = true;
            QMetaObject::invokeMethod(
                this, [this] { reportEnd(true, QString()); }, Qt::QueuedConnection);
            break;
        }
        fail(lastError("lettura TLS non riuscita"));
        break;
    }
    return done;
}

void TlsSocket::fail(const QString& reason) {
    if (std::exchange(broken_, true))
        return;
    handshakeTimer_.stop();
    ERR_clear_error();
    reportEnd(false, reason);
}

} // namespace kv::ftp
