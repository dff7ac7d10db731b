#pragma once
// An upload under its account's quota, the same for FTP and SFTP: opened only
// when the account has room (refused before any data otherwise), written
// over an existing file beside it, every write admitted for what fits, and
// at its end settled against what the file holds: a complete upload replaces
// the old file, one that is not leaves it as it was. Accounts without a quota
// go straight to the file service, at no cost.

#include "files/FileService.h"
#include "session/QuotaCharge.h"

#include <memory>

namespace kv::session {

class QuotaKeeper;

class UploadQuota {
public:
    struct Opened {
        files::OpenedFile file;
        std::unique_ptr<UploadQuota> quota; // null: the account has no quota
        QString refusal;                    // why the quota refuses it (file not opened)
    };
    // Opens `path` for writing as FileService::openForWriting does, within
    // the quota of the grant's account when `keeper` (may be null) holds one.
    static Opened open(QuotaKeeper* keeper, const files::LoginGrant* grant,
                       files::FileService& files, const QString& path, files::WriteMode mode,
                       qint64 offset = 0);

    UploadQuota(std::unique_ptr<QuotaCharge> charge, std::shared_ptr<files::BesideFile> beside);
    ~UploadQuota();

    // How many of `size` bytes written at `offset` (-1: the end) fit.
    qint64 admit(qint64 offset, qint64 size) { return charge_->admit(offset, size); }
    // Whether `size` more bytes at the end would fit, taking nothing.
    bool fits(qint64 size) { return charge_->fits(size); }
    // Whether a write was cut short by the quota.
    bool cut() const { return charge_->cut(); }
    bool replacing() const { return beside_ != nullptr; }
    // The upload ended; `fd` is its still open file. Complete: the new file
    // takes its place (false, errno set, when it could not). Not complete:
    // an overwrite is dropped and the old file counts again; a new file or a
    // resume keeps what it received.
    bool finish(bool complete, int fd);
    bool finished() const { return finished_; }

private:
    std::unique_ptr<QuotaCharge> charge_;
    std::shared_ptr<files::BesideFile> beside_;
    bool finished_ = false;
};

} // namespace kv::session

namespace kv::session {

// Deletes a file through `files`; with a quota on the account its size and
// one file stop counting.
// What the grant's account may still store: the folder's free space `space`
// (ok) or the quota left, the smaller of the two; the quota's size replaces
// the file system's when the account has a byte quota.
files::SpaceResult withinQuota(QuotaKeeper* keeper, const files::LoginGrant* grant,
                               files::SpaceResult space);

files::PathResult deleteCounted(QuotaKeeper* keeper, const files::LoginGrant* grant,
                                files::FileService& files, const QString& path);

} // namespace kv::session
