#include "session/UploadQuota.h"

#include "session/QuotaKeeper.h"

#include <algorithm>
#include <cerrno>

namespace kv::session {

UploadQuota::Opened UploadQuota::open(QuotaKeeper* keeper, const files::LoginGrant* grant,
                                      files::FileService& files, const QString& path,
                                      files::WriteMode mode, qint64 offset) {
    Opened result;
    if (!keeper || !grant || !keeper->limited(grant->accountId)) {
        result.file = files.openForWriting(path, mode, offset);
        return result;
    }
    const qint32 accountId = grant->accountId;
    keeper->noteLogin(accountId, grant->anonymous ? QStringLiteral("anonymous") : grant->login);
    // What is there decides what the upload frees and adds.
    files::FactsResult existing;
    existing.error = files::FileError::NotFound;
    if (mode != files::WriteMode::UniqueName)
        existing = files.stat(path);
    const bool exists = existing.ok() && !existing.entry.isDir;
    const qint64 before = exists ? existing.entry.size : -1;
    qint64 kept = 0; // of the old file once opened
    if (exists && mode == files::WriteMode::Append)
        kept = before;
    else if (exists && mode == files::WriteMode::Replace)
        kept = std::min(before, offset);
    if (!existing.ok() || !existing.entry.isDir) {
        result.refusal = keeper->refusal(accountId, exists ? before - kept : 0, !exists);
        if (!result.refusal.isEmpty()) {
            result.file.error = files::FileError::NotAllowed;
            result.file.path = files::VirtualFileSystem::normalize(files.currentFolder(), path);
            result.file.name = path;
            return result;
        }
    }
    // Over an existing file from its start: beside it, so it stays whole
    // until the new one is.
    if (exists && mode == files::WriteMode::Replace && offset == 0)
        mode = files::WriteMode::ReplaceBeside;
    result.file = files.openForWriting(path, mode, offset);
    if (!result.file.ok())
        return result;
    auto charge =
        std::make_unique<QuotaCharge>(*keeper, accountId, before, result.file.beside ? 0 : kept);
    result.quota = std::make_unique<UploadQuota>(std::move(charge), result.file.beside);
    return result;
}

UploadQuota::UploadQuota(std::unique_ptr<QuotaCharge> charge,
                         std::shared_ptr<files::BesideFile> beside)
    : charge_(std::move(charge)), beside_(std::move(beside)) {}

UploadQuota::~UploadQuota() {
    if (!finished_)
        finish(false, -1);
}

bool UploadQuota::finish(bool complete, int fd) {
    if (finished_)
        return true;
    finished_ = true;
    charge_->settleFromDescriptor(fd);
    if (!beside_)
        return true;
    if (complete && beside_->commit())
        return true;
    const int error = errno;
    // The old file stays: what it holds counts again, the new one not at all.
    beside_->drop();
    charge_->restoreReplaced();
    errno = error;
    return !complete;
}

} // namespace kv::session

namespace kv::session {

files::SpaceResult withinQuota(QuotaKeeper* keeper, const files::LoginGrant* grant,
                               files::SpaceResult space) {
    if (!space.ok() || !keeper || !grant || !keeper->limited(grant->accountId))
        return space;
    const qint64 left = keeper->bytesLeft(grant->accountId);
    if (left < 0)
        return space;
    space.freeBytes = std::min(space.freeBytes, left);
    space.totalBytes = keeper->limits(grant->accountId).quotaBytes;
    return space;
}

files::PathResult deleteCounted(QuotaKeeper* keeper, const files::LoginGrant* grant,
                                files::FileService& files, const QString& path) {
    if (!keeper || !grant || !keeper->limited(grant->accountId))
        return files.deleteFile(path);
    const qint32 accountId = grant->accountId;
    const files::FactsResult facts = files.stat(path);
    const files::PathResult r = files.deleteFile(path);
    if (r.ok() && facts.ok()) {
        keeper->release(accountId, facts.entry.size);
        keeper->addFiles(accountId, -1);
    }
    return r;
}

} // namespace kv::session
