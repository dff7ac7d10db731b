#pragma once
// One transfer over a connected data socket. Downloads and listings go from
// disk (or memory) to the socket, uploads from the socket to disk; both run
// in chunks driven by the socket's readiness, so many transfers progress in
// turn on one event loop and no call blocks on large data.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QFile;
class QSocketNotifier;

namespace kv::session {
class UploadQuota;
}
class QTimer;

namespace kv::session {
class RateFlow;
}

namespace kv::ftp {
class AsciiEncoder;
class AsciiDecoder;
class StreamSocket;
} // namespace kv::ftp

namespace kv::ftp {

struct TransferResult {
    enum class Outcome {
        Complete,
        ConnectionLost, // the client closed or reset the data connection early
        ReadFailed,     // the source file could not be read
        WriteFailed,    // the destination file could not be written (rights, I/O error)
        StorageFull,    // no room left for the destination file (disk, quota, size limit)
        QuotaExceeded,  // the account's quota is reached: the part received stays
        Aborted,        // ABOR or the session ended
    };
    Outcome outcome = Outcome::Complete;
    qint64 bytes = 0;     // file bytes moved
    QString detail;       // Italian, for the log and the event bus
    QString replyDetail;  // for the client's 451 reply; empty: `detail`
    qint64 fileSize = -1; // a complete upload's file as stored; -1 otherwise
    bool complete() const { return outcome == Outcome::Complete; }
};

class Transfer : public QObject {
    Q_OBJECT
public:
    // Takes ownership of the socket. `lingerSeconds` > 0 keeps a finished
    // connection half-open that long so the client can read everything.
    Transfer(StreamSocket* socket, int lingerSeconds, QObject* parent);
    ~Transfer() override;

    // Seconds without a byte moving after which the transfer ends as a lost
    // connection; 0 (the default) waits for ever. Set before start().
    void setStallTimeout(int seconds) { stallSeconds_ = seconds; }
    // The speed limits the file's bytes move under; null: none. Kept by the
    // session, let go of when the transfer ends. Set before start().
    void setRateFlow(session::RateFlow* flow) { rate_ = flow; }
    // Runs the transfer; finished() may come before this returns.
    void start();
    // Stops at once; finished() is not emitted. Returns what was moved.
    TransferResult abort();
    qint64 bytes() const { return bytes_; }

Q_SIGNALS:
    void finished(const kv::ftp::TransferResult& result);
    void debugLine(const QString& line);

protected:
    virtual void run() = 0;
    void finish(TransferResult::Outcome outcome, const QString& detail = QString(),
                const QString& replyDetail = QString());
    virtual void stopSource() {}
    // What the stall watch compares: anything that grows while data moves.
    virtual qint64 progress() const { return bytes_; }
    // The text of the last failed system call (errno), for a result's detail.
    static QString systemError();
    // Bytes of `want` the speed limits let move now; 0: wait, and `resume`
    // runs once they allow more.
    qint64 allowed(qint64 want, std::function<void()> resume);
    void charge(qint64 bytes);

    StreamSocket* socket_;
    int linger_;
    qint64 bytes_ = 0;
    qint64 fileSize_ = -1; // told with the result
    bool done_ = false;

private:
    void watchForStall();
    void checkProgress();

    void releaseRate();

    session::RateFlow* rate_ = nullptr;
    int stallSeconds_ = 0;
    QTimer* stallWatch_ = nullptr;
    qint64 lastProgress_ = 0;
    QElapsedTimer sinceProgress_;
};

// File (from an offset up to `size`, the size the 150 reply announced) or
// in-memory text to the client.
class SendTransfer : public Transfer {
    Q_OBJECT
public:
    SendTransfer(StreamSocket* socket, std::unique_ptr<QFile> file, qint64 offset, qint64 size,
                 bool ascii, int lingerSeconds, QObject* parent);
    // Text: `data`, then the pieces `more` gives until an empty one.
    SendTransfer(StreamSocket* socket, QByteArray data, int lingerSeconds, QObject* parent,
                 std::function<QByteArray()> more = {});
    ~SendTransfer() override;

private:
    void run() override;
    qint64 progress() const override;
    // Ends a download whose file turned out shorter than announced.
    void finishShort();
    // The file could not be read: Qt's reason for the client, framed in Italian for the log.
    void failRead();
    // Reading chunks from the offset on; sendfile falls back to it too.
    void startChunks();
    void pumpChunks();
    void pumpSendfile();
    void pumpText();
    // A listing made as it goes waits in the kernel no more than here.
    void keepKernelQueueShort();
    // Ends the transfer when the client goes away before it is done.
    void watchClient();
    void onSocketGone();
    void stopSource() override;

    std::unique_ptr<QFile> file_;
    QByteArray data_;
    std::function<QByteArray()> more_;
    qint64 handed_ = 0; // text given to the socket so far
    qint64 offset_ = 0;
    qint64 end_ = 0;
    bool ascii_ = false;
    bool eof_ = false;
    QSocketNotifier* notifier_ = nullptr;
    std::unique_ptr<AsciiEncoder> encoder_;
    QByteArray chunk_; // read from the file, kept for the next chunk
    QByteArray wire_;  // chunk_ converted for ASCII type, kept likewise
};

// Client to file: the file is already open at the right position.
class ReceiveTransfer : public Transfer {
    Q_OBJECT
public:
    ReceiveTransfer(StreamSocket* socket, std::unique_ptr<QFile> file, bool ascii,
                    int lingerSeconds, QObject* parent);
    ~ReceiveTransfer() override;
    // The account's quota every write is admitted by; set before start().
    void setQuota(std::unique_ptr<session::UploadQuota> quota);

private:
    void run() override;
    // Ends on a failed file write (errno set): no room left, or another error.
    void failWrite();
    void drain();
    void onSocketClosed();
    bool store(const char* data, qint64 size);
    // Ends an upload that reached its account's quota.
    void stopAtQuota();
    void growBufferIfFilled(qint64 lastRead);
    bool takeDescriptor();
    void readDirect();
    // One splice step of at most `max` bytes; false when splicing is not possible here.
    bool spliceOnce(qint64& moved, qint64 max);
    void complete();
    void stopSource() override;

    std::unique_ptr<QFile> file_;
    bool ascii_ = false;
    QByteArray buffer_;
    std::unique_ptr<AsciiDecoder> decoder_;
    QByteArray text_; // a chunk converted for ASCII type, its memory kept for the next
    // Binary uploads on a plain socket read the descriptor directly
    // (one copy less, and a reset is told apart from a normal end).
    int fd_ = -1;
    int pipe_[2] = {-1, -1}; // socket -> pipe -> file without a user-space copy
    bool useSplice_ = true;
    bool spliced_ = false;         // some bytes already went to the file by splice
    bool heldReading_ = false;     // the socket's buffer is bounded while limits hold it
    bool closedWhileHeld_ = false; // the client's end came while bytes waited for the limits
    std::unique_ptr<session::UploadQuota> quota_; // null: no quota
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kv::ftp
