#pragma once
// A plain data connection driven straight from its descriptor. A QTcpSocket
// made for each transfer asks the kernel about the descriptor (getsockname,
// getpeername, getsockopt, fcntl) and registers a read notifier at once, whose
// registration wakes the event loop; here nothing is asked, and a notifier is
// only made when the stream has to wait: for the client (someone listens to
// readyRead(), remoteClosed() or failed()) or for room to write.

#include "ftp/StreamSocket.h"

class QSocketNotifier;
class QTimer;

namespace kv::ftp {

class DescriptorSocket : public StreamSocket {
    Q_OBJECT
public:
    // Takes ownership of the connected, non-blocking descriptor.
    DescriptorSocket(int descriptor, QObject* parent);
    ~DescriptorSocket() override;

    qint64 bytesAvailable() const override { return received_.size(); }
    qint64 read(char* data, qint64 max) override;
    void write(const QByteArray& data) override;
    qint64 bytesToWrite() const override { return unsent_.size(); }
    bool isConnected() const override { return fd_ >= 0 && !ended_; }
    qintptr zeroCopyDescriptor() const override { return isConnected() ? fd_ : -1; }
    int releaseDescriptor() override;
    void limitReadBuffer(qint64 bytes) override { readLimit_ = bytes; }
    void abort() override;
    bool closeAtOnce(int lingerSeconds) override;
    void lingerUntilClosed(int lingerSeconds) override;

protected:
    void connectNotify(const QMetaMethod& signal) override;

private:
    void watchReading();
    void onReadable();
    // Bytes the kernel took now (the rest waits for the write notifier).
    qint64 sendUnsent();
    void onWritable();
    void closeDescriptor();
    // The connection's end: `error` 0 for the client's close.
    void endWith(int error);

    int fd_;
    QByteArray received_;
    QByteArray unsent_;
    QSocketNotifier* reading_ = nullptr;
    QSocketNotifier* writing_ = nullptr;
    QTimer* limit_ = nullptr;
    // After closeAtOnce(): what the client still sends is dropped, and the
    // object deletes itself once the connection is closed.
    bool closing_ = false;
    qint64 readLimit_ = 0;    // most bytes held unread; 0: no bound
    bool readPaused_ = false; // reading waits for the reader to take some
};

} // namespace kv::ftp
