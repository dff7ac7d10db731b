#pragma once
// One file moving between a client and the disk, whatever the protocol. It
// is opened through the file service, so it knows the client's path and the
// disk's; every byte a session reads from or writes to the file passes
// through read() and write(), which count it; the first reason the transfer
// cannot be whole is kept; finish() closes the file and says how it ended.
// This is the one place where per-session rate limits and quotas can act.

#include "events/ServerEvents.h"
#include "files/FileService.h"

#include "session/UploadQuota.h"

#include <QDateTime>
#include <QFile>
#include <memory>

namespace kv::session {

// A file transfer as the bus is told of it.
struct TransferNote {
    events::TransferKind kind = events::TransferKind::Download;
    QString clientPath;
    QString diskPath;
    qint64 bytes = 0;
    qint64 size = -1;     // a download's file when opened; -1 for an upload
    qint64 fileSize = -1; // a complete upload's file as stored
    // Why the transfer cannot be whole (a read or write that failed, a file
    // shortened meanwhile); empty while nothing went wrong.
    QString failure;
};

class FileTransfer {
public:
    // `opened` must be ok(); `append`: every write goes to the end.
    FileTransfer(events::TransferKind kind, files::OpenedFile opened, bool append = false);

    const TransferNote& note() const { return note_; }
    bool isUpload() const { return note_.kind == events::TransferKind::Upload; }
    // Whether a byte moved yet (the transfer was told as started).
    bool moved() const { return moved_; }
    void markMoved() { moved_ = true; }

    // An upload within its account's quota: every write takes its growth
    // first, and finish() puts an overwrite in place or leaves the old file.
    void setQuota(std::unique_ptr<UploadQuota> quota) { quota_ = std::move(quota); }
    // Whether a write was refused or cut short by the quota.
    bool quotaReached() const { return quota_ && quota_->cut(); }

    // Positions the next read or write at `offset` (ignored when appending);
    // false past what a file offset can hold.
    bool seek(quint64 offset);
    // Reads up to `max` bytes into `into`; the count read, 0 at the end, -1
    // on a failure (kept as the reason).
    qint64 read(char* into, qint64 max);
    // Writes all of `data`; false on a failure (kept as the reason).
    bool write(QByteArrayView data);
    // The system's words for the last failed read or write.
    QString errorString() const { return file_->errorString(); }
    // Keeps `why` as the reason, unless one is kept already.
    void noteFailure(const QString& why);

    // The open file's size and modification time as they are now (buffered
    // bytes written first).
    qint64 currentSize();
    QDateTime currentModified();
    // Writes out buffered bytes (before the file's times are changed by path).
    void flush() { file_->flush(); }
    // An upload's bytes on the disk itself (fsync); false when they are not.
    bool sync();

    // Closes the file: `outcome` as asked, or Failed when a failure was kept
    // or the last bytes could not be written. A complete upload notes the
    // file's whole size, also when it appended or resumed.
    events::TransferOutcome finish(events::TransferOutcome outcome);

private:
    TransferNote note_;
    std::unique_ptr<QFile> file_;
    bool append_ = false;
    bool moved_ = false;
    std::unique_ptr<UploadQuota> quota_; // null: no quota
};

} // namespace kv::session
