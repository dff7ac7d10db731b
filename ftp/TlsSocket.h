#pragma once
// A TLS-protected stream over a connected QTcpSocket, always the TLS server.
// OpenSSL reads records from what the TCP socket has buffered and writes
// them to the kernel without waiting (the TCP socket queues what the kernel
// cannot take yet), so the handshake, reads and writes all run on readiness
// and never block.

#include "ftp/StreamSocket.h"

#include "ftp/TlsContext.h"

#include <QTimer>

using SSL = struct ssl_st;
using BIO = struct bio_st;
using BIO_METHOD = struct bio_method_st;

namespace kv::ftp {

class TlsSocket : public StreamSocket {
    Q_OBJECT
public:
    enum class Role { Control, Data };
    // Starts the handshake at once (the client speaks first). `handshakeMs`
    // bounds it; past that the connection fails.
    TlsSocket(QTcpSocket* tcp, const TlsContext& context, Role role, int handshakeMs,
              QObject* parent);
    ~TlsSocket() override;

    qint64 bytesAvailable() const override { return in_.size() - inPos_; }
    qint64 read(char* data, qint64 max) override;
    void write(const QByteArray& data) override;
    qint64 bytesToWrite() const override;
    bool isConnected() const override;
    void abort() override;
    bool isEncrypted() const override { return true; }
    QString protectionSummary() const override;
    void issueSessionTicket(qint32 accountId, const QString& login,
                            const QHostAddress& client) override;

    bool isResumed() const;
    // Decrypted bytes held before reading from the TCP socket pauses.
    void setReadLimit(qint64 bytes) { readLimit_ = bytes; }
    // Whether this data connection resumed a session of `control`.
    bool resumedSessionOf(const TlsSocket& control) const;

Q_SIGNALS:
    void encrypted();

protected:
    void sendCloseNotify() override;

private:
    void pump();
    void schedulePump();
    void acknowledgeNow();
    void readRecords();
    // Decrypted bytes held before reading from the TCP socket pauses.
    qint64 heldLimit() const;
    // Decrypts what has arrived into `out`, at most `room` bytes.
    qint64 decryptInto(char* out, qint64 room);
    void encryptPending();
    // Records OpenSSL made, to the kernel or the TCP socket's queue.
    void sendRecords(const char* data, qint64 n);
    void flushBatch();
    void sendNow(const char* data, qint64 n);
    void scheduleWritten();
    static BIO_METHOD* bioMethod();
    // OpenSSL's reason for the failure of `what`, which it then forgets.
    static QString lastError(const char* what);
    void fail(const QString& reason);

    SSL* ssl_ = nullptr;
    TlsSessionOwner owner_; // carried by this control connection's tickets
    QByteArray in_;         // decrypted and not yet read, from inPos_
    qint64 inPos_ = 0;
    QByteArray out_; // written and not yet encrypted, from outPos_
    qint64 outPos_ = 0;
    QByteArray batch_;      // records made while encrypting, sent together
    bool batching_ = false; // records go to batch_ rather than out at once
    qint64 readLimit_ = 1024 * 1024;
    bool handshakeDone_ = false;
    bool broken_ = false;
    bool tcpEnded_ = false;      // the TCP connection is over: nothing more to send
    bool closeNotified_ = false; // the client ended its side with close_notify
    bool pumpQueued_ = false;
    bool readyOwed_ = false; // bytes held back in read(): readyRead goes out again
    bool writtenQueued_ = false;
    qint64 sentUnreported_ = 0; // sent to the kernel, not yet reported as written
    bool data_;                 // a data connection (else the control connection)
    QTimer handshakeTimer_;
};

} // namespace kv::ftp
