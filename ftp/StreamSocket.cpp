// What every stream shares (the TCP socket's end, the polite close with its
// linger) and the plain stream, which passes bytes straight through.
#include "ftp/StreamSocket.h"

#include "ftp/SocketErrorText.h"

#include <QTcpSocket>
#include <QTimer>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif
#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace kv::ftp {

namespace {
// Longest wait for queued bytes to leave before a closed socket is reset.
constexpr int kFlushLimitMs = 60000;
} // namespace

StreamSocket::StreamSocket(QTcpSocket* tcp, QObject* parent) : QObject(parent), tcp_(tcp) {
    tcp_->setParent(this);
}

StreamSocket::~StreamSocket() = default;

QByteArray StreamSocket::read(qint64 max) {
    QByteArray out;
    const qint64 n = std::min(max, bytesAvailable());
    if (n <= 0)
        return out;
    out.resize(n);
    const qint64 got = read(out.data(), n);
    out.resize(std::max<qint64>(got, 0));
    return out;
}

void StreamSocket::limitReadBuffer(qint64 bytes) {
    if (tcp_)
        tcp_->setReadBufferSize(bytes);
}

QString StreamSocket::errorString() const {
    if (!error_.isEmpty())
        return error_;
    // Ended without an error: the client closed its side.
    if (ended_ || !tcp_ || tcp_->error() == QAbstractSocket::UnknownSocketError)
        return clientClosedText();
    return socketErrorText(tcp_->error());
}

QHostAddress StreamSocket::peerAddress() const {
    return tcp_ ? tcp_->peerAddress() : QHostAddress();
}

QHostAddress StreamSocket::localAddress() const {
    return tcp_ ? tcp_->localAddress() : QHostAddress();
}

QTcpSocket* StreamSocket::releaseTcp() {
    QTcpSocket* tcp = tcp_;
    tcp_ = nullptr;
    if (tcp) {
        tcp->disconnect(this);
        tcp->setParent(nullptr);
    }
    return tcp;
}

void StreamSocket::connectTcpEnd() {
    connect(tcp_, &QTcpSocket::disconnected, this, [this] { reportEnd(true, QString()); });
    connect(tcp_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        reportEnd(e == QAbstractSocket::RemoteHostClosedError, socketErrorText(e));
    });
}

void StreamSocket::reportEnd(bool clean, const QString& reason) {
    // Each end is reported once; a normal close by the client is told apart
    // from a reset.
    if (std::exchange(ended_, true))
        return;
    if (clean) {
        Q_EMIT remoteClosed();
        return;
    }
    if (error_.isEmpty())
        error_ = reason;
    Q_EMIT failed(reason);
}

void StreamSocket::disconnectFromHost() {
    if (!tcp_)
        return;
    if (tcp_->state() == QAbstractSocket::ConnectedState)
        sendCloseNotify();
    tcp_->disconnectFromHost();
}

void StreamSocket::abort() {
    if (tcp_)
        tcp_->abort();
}

bool StreamSocket::closeAtOnce(int lingerSeconds) {
    if (!tcp_)
        return true;
    tcp_->disconnect(this);
    if (tcp_->state() == QAbstractSocket::ConnectedState)
        sendCloseNotify();
    tcp_->flush();
    if (lingerSeconds <= 0 || tcp_->state() != QAbstractSocket::ConnectedState ||
        tcp_->bytesToWrite() > 0) {
        tcp_->disconnectFromHost();
        return tcp_->state() == QAbstractSocket::UnconnectedState;
    }
    return false;
}

void StreamSocket::closeGracefully(int lingerSeconds) {
    setParent(nullptr);
    if (closeAtOnce(lingerSeconds)) {
        deleteLater();
        return;
    }
    lingerUntilClosed(lingerSeconds);
}

void StreamSocket::lingerUntilClosed(int lingerSeconds) {
    setParent(nullptr);
    // This object outlives its user until the connection has closed by
    // itself; its own timer makes sure it never stays around for ever.
    connect(tcp_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    auto* limit = new QTimer(this);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, this, [this] {
        tcp_->abort();
        deleteLater();
    });
    // Whatever the client still sends is read and dropped, so unread bytes
    // never turn the close into a reset that could cost it the tail.
    QTcpSocket* tcp = tcp_;
    connect(tcp_, &QTcpSocket::readyRead, this, [tcp] { tcp->readAll(); });
    if (tcp_->state() == QAbstractSocket::ConnectedState) {
        // Our end-of-data goes now; the client closes when it has read it.
#ifdef Q_OS_UNIX
        ::shutdown(int(tcp_->socketDescriptor()), SHUT_WR);
#endif
        limit->start(lingerSeconds * 1000);
        return;
    }
    limit->start(kFlushLimitMs);
}

// ---- plain ----------------------------------------------------------------

PlainSocket::PlainSocket(QTcpSocket* tcp, QObject* parent) : StreamSocket(tcp, parent) {
    connect(tcp_, &QTcpSocket::readyRead, this, &StreamSocket::readyRead);
    connect(tcp_, &QTcpSocket::bytesWritten, this, &StreamSocket::bytesWritten);
    connectTcpEnd();
}

qint64 PlainSocket::bytesAvailable() const {
    return tcp_ ? tcp_->bytesAvailable() : 0;
}

qint64 PlainSocket::read(char* data, qint64 max) {
    return tcp_ ? tcp_->read(data, max) : -1;
}

void PlainSocket::write(const QByteArray& data) {
    if (tcp_)
        tcp_->write(data);
}

qint64 PlainSocket::bytesToWrite() const {
    return tcp_ ? tcp_->bytesToWrite() : 0;
}

bool PlainSocket::isConnected() const {
    return tcp_ && tcp_->state() == QAbstractSocket::ConnectedState;
}

qintptr PlainSocket::zeroCopyDescriptor() const {
    return isConnected() ? tcp_->socketDescriptor() : -1;
}

int PlainSocket::releaseDescriptor() {
#ifdef Q_OS_LINUX
    const qintptr plain = zeroCopyDescriptor();
    const int fd = plain < 0 ? -1 : ::fcntl(int(plain), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // The copy shares the non-blocking mode of Qt's descriptor; closing
    // Qt's one leaves the connection living on in the copy.
    tcp_->disconnect(this);
    tcp_->abort();
    return fd;
#else
    return -1;
#endif
}

} // namespace kv::ftp
