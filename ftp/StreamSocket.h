#pragma once
// The byte stream a session, a data channel and a transfer talk through: a
// connected TCP socket, either as it is (PlainSocket, or DescriptorSocket for
// a passive data connection) or protected by TLS (TlsSocket). Callers never ask which one they
// hold; the few things only a plain socket can do (zero-copy sending) are offered through
// zeroCopyDescriptor(), which a protected socket answers with -1.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace kv::ftp {

class StreamSocket : public QObject {
    Q_OBJECT
public:
    // Takes ownership of the connected TCP socket.
    StreamSocket(QTcpSocket* tcp, QObject* parent);
    ~StreamSocket() override;

    // Readable application bytes.
    virtual qint64 bytesAvailable() const = 0;
    virtual qint64 read(char* data, qint64 max) = 0;
    QByteArray read(qint64 max);
    QByteArray readAll() { return read(bytesAvailable()); }
    // Queues application bytes; nothing is ever dropped.
    virtual void write(const QByteArray& data) = 0;
    // Application bytes (or their records) not yet taken by the kernel.
    virtual qint64 bytesToWrite() const = 0;
    // Connected and, for TLS, past the handshake.
    virtual bool isConnected() const = 0;
    // The plain socket's descriptor for sendfile/splice; -1 when the bytes
    // must pass through this object.
    virtual qintptr zeroCopyDescriptor() const { return -1; }
    // Whether the stream is protected, and a line for the log saying how.
    virtual bool isEncrypted() const { return false; }
    virtual QString protectionSummary() const { return {}; }
    // A fresh session ticket for the client's next data connection (TLS 1.3
    // clients spend one per connection), issued to the account `accountId`
    // (`login`) at `client` (a null address: nobody logged in); nothing for
    // a plain socket.
    virtual void issueSessionTicket(qint32 accountId, const QString& login,
                                    const QHostAddress& client) {
        Q_UNUSED(accountId);
        Q_UNUSED(login);
        Q_UNUSED(client);
    }
    // Hands the plain connection's descriptor over to a caller that reads
    // it directly and closes it; this object is closed after. -1 (and
    // nothing changed) when the bytes must pass through this object. Bytes
    // already read (bytesAvailable()) are the caller's to take first.
    virtual int releaseDescriptor() { return -1; }
    // Bounds the bytes read ahead of the reader: a reader that stops reading
    // (held by the speed limits) then slows the client through TCP itself.
    virtual void limitReadBuffer(qint64 bytes);

    // Ends the stream the polite way: close_notify for TLS, then FIN. With
    // `lingerSeconds` > 0 the connection is kept half-open that long so the
    // client can read everything. The object then deletes itself once closed
    // (or after a limit), so the caller just lets go of it.
    void closeGracefully(int lingerSeconds);
    // The first step of closeGracefully(): true when the connection is
    // already closed (nothing queued, no linger), and then the caller keeps
    // the object; otherwise lingerUntilClosed() must follow.
    virtual bool closeAtOnce(int lingerSeconds);
    // The rest: the object lets go of its parent and deletes itself once
    // the connection has closed (or after a limit).
    virtual void lingerUntilClosed(int lingerSeconds);
    // Closes once queued bytes are out (close_notify first for TLS).
    void disconnectFromHost();
    // Resets the connection at once.
    virtual void abort();
    QString errorString() const;

    QTcpSocket* tcp() const { return tcp_; }
    QHostAddress peerAddress() const;
    QHostAddress localAddress() const;
    // Hands the TCP socket over (for AUTH TLS); this object is empty after.
    QTcpSocket* releaseTcp();

Q_SIGNALS:
    void readyRead();
    void bytesWritten();
    // The client closed its side normally (FIN, with or without close_notify).
    void remoteClosed();
    // The connection broke: reset, TLS failure, handshake time limit.
    void failed(const QString& reason);

protected:
    // A stream without a QTcpSocket (it drives its descriptor itself).
    explicit StreamSocket(QObject* parent) : QObject(parent), tcp_(nullptr) {}
    // Queues close_notify before the FIN; nothing for a plain socket.
    virtual void sendCloseNotify() {}
    void connectTcpEnd();
    // Emits remoteClosed() or failed() (only the first end counts).
    void reportEnd(bool clean, const QString& reason);

    QTcpSocket* tcp_;
    QString error_;
    bool ended_ = false;
};

class PlainSocket : public StreamSocket {
    Q_OBJECT
public:
    PlainSocket(QTcpSocket* tcp, QObject* parent);
    qint64 bytesAvailable() const override;
    qint64 read(char* data, qint64 max) override;
    void write(const QByteArray& data) override;
    qint64 bytesToWrite() const override;
    bool isConnected() const override;
    qintptr zeroCopyDescriptor() const override;
    int releaseDescriptor() override;
};

} // namespace kv::ftp
