// File operations of one session: resolve, decide, then touch the disk, in
// the order every protocol answers the same way.
#include "files/FileService.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace kv::files {

namespace {

// Unique names are tried up to this many times.
constexpr int kMaxUniqueTries = 1000;

bool isRootOrMount(const ResolvedPath& p) {
    return p.isMountPoint || p.virtualPath == u"/";
}

FileError errorOf(PathError error) {
    switch (error) {
    case PathError::None:
        break;
    case PathError::TooLong:
        return FileError::TooLong;
    case PathError::Forbidden:
        return FileError::Forbidden;
    case PathError::NotFound:
        return FileError::NotFound;
    }
    return FileError::None;
}

} // namespace

FileService::FileService(std::shared_ptr<const LoginGrant> grant, bool followLinks,
                         ChangeSink changed)
    : grant_(std::move(grant)), changed_(std::move(changed)) {
    if (grant_)
        vfs_ = VirtualFileSystem(grant_->root, grant_->virtualDirs, followLinks);
}

ResolvedPath FileService::resolve(const QString& clientPath, bool mustExist,
                                  FileError& error) const {
    ResolvedPath p = vfs_.resolve(cwd_, clientPath, mustExist);
    error = errorOf(p.error);
    if (error == FileError::None && mustExist && !p.exists)
        error = FileError::NotFound;
    return p;
}

bool FileService::allowed(FileOperation operation, const QString& path) const {
    return isAllowed(grant_.get(), operation, path);
}

void FileService::report(events::FileChange change, const ResolvedPath& p, const ResolvedPath* to) {
    if (!changed_)
        return;
    events::FileEvent event;
    event.change = change;
    event.clientPath = p.virtualPath;
    event.diskPath = p.realPath;
    if (to) {
        event.newClientPath = to->virtualPath;
        event.newDiskPath = to->realPath;
    }
    changed_(std::move(event));
}

PathResult FileService::changeFolder(const QString& clientPath) {
    PathResult result;
    const ResolvedPath p = resolve(clientPath, true, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (!p.isDir)
        result.error = FileError::NotADirectory;
    else if (!allowed(FileOperation::ChangeDir, p.virtualPath))
        result.error = FileError::NotAllowed;
    else
        cwd_ = p.virtualPath;
    return result;
}

PathResult FileService::makeFolder(const QString& clientPath) {
    PathResult result;
    const ResolvedPath p = resolve(clientPath, false, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (p.exists)
        result.error = FileError::Exists;
    else if (!allowed(FileOperation::MakeDir, p.virtualPath))
        result.error = FileError::NotAllowed;
    else if (!QDir().mkdir(p.realPath))
        result.error = FileError::Failed;
    else
        report(events::FileChange::FolderMade, p);
    return result;
}

PathResult FileService::removeFolder(const QString& clientPath) {
    PathResult result;
    const ResolvedPath p = resolve(clientPath, true, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (!p.isDir)
        result.error = FileError::NotADirectory;
    else if (isRootOrMount(p))
        result.error = FileError::Forbidden;
    else if (!allowed(FileOperation::RemoveDir, p.virtualPath))
        result.error = FileError::NotAllowed;
    else if (!QDir().rmdir(p.realPath))
        result.error = FileError::Failed;
    if (!result.ok())
        return result;
    if (cwd_ == p.virtualPath || cwd_.startsWith(p.virtualPath + u'/'))
        cwd_ = QStringLiteral("/");
    report(events::FileChange::FolderRemoved, p);
    return result;
}

PathResult FileService::deleteFile(const QString& clientPath) {
    PathResult result;
    const ResolvedPath p = resolve(clientPath, true, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (p.isDir)
        result.error = FileError::IsADirectory;
    else if (!allowed(FileOperation::Delete, p.virtualPath))
        result.error = FileError::NotAllowed;
    else if (!QFile::remove(p.realPath))
        result.error = FileError::Failed;
    else
        report(events::FileChange::Deleted, p);
    return result;
}

RenameSource FileService::renameSource(const QString& clientPath) const {
    RenameSource source;
    const ResolvedPath p = resolve(clientPath, true, source.error);
    if (!source.ok())
        return source;
    source.path = p.virtualPath;
    if (isRootOrMount(p))
        source.error = FileError::Forbidden;
    else
        source.diskPath_ = p.realPath;
    return source;
}

PathResult FileService::rename(const RenameSource& from, const QString& newClientPath) {
    PathResult result;
    if (!from.ok() || from.diskPath_.isEmpty()) {
        result.error = from.ok() ? FileError::NotFound : from.error;
        return result;
    }
    const ResolvedPath to = resolve(newClientPath, false, result.error);
    if (!result.ok())
        return result;
    result.path = to.virtualPath;
    if (to.exists || to.isMountPoint) {
        result.error = FileError::Exists;
        return result;
    }
    if (!allowed(FileOperation::Rename, from.path)) {
        result.error = FileError::NotAllowed;
        return result;
    }
#ifdef Q_OS_UNIX
    // rename(2) never copies: across file systems it fails instead of
    // blocking the caller on a long copy.
    const bool moved = ::rename(QFile::encodeName(from.diskPath_).constData(),
                                QFile::encodeName(to.realPath).constData()) == 0;
#else
    const bool moved = QDir().rename(from.diskPath_, to.realPath);
#endif
    if (!moved) {
        result.error = FileError::Failed;
        return result;
    }
    ResolvedPath source;
    source.virtualPath = from.path;
    source.realPath = from.diskPath_;
    report(events::FileChange::Renamed, source, &to);
    return result;
}

PathResult FileService::setModified(const QString& clientPath, const QDateTime& utc) {
    PathResult result;
    const ResolvedPath p = resolve(clientPath, true, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (!allowed(FileOperation::SetTime, p.virtualPath)) {
        result.error = FileError::NotAllowed;
        return result;
    }
    bool done = false;
#ifdef Q_OS_UNIX
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // the access time stays
    times[1].tv_sec = time_t(utc.toSecsSinceEpoch());
    times[1].tv_nsec = 0;
    done = ::utimensat(AT_FDCWD, QFile::encodeName(p.realPath).constData(), times, 0) == 0;
#else
    Q_UNUSED(utc);
#endif
    if (!done)
        result.error = FileError::Failed;
    return result;
}

FactsResult FileService::stat(const QString& clientPath) const {
    FactsResult result;
    const ResolvedPath p = resolve(clientPath, true, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (!allowed(FileOperation::Stat, p.virtualPath)) {
        result.error = FileError::NotAllowed;
        return result;
    }
    if (const std::optional<FsEntry> entry = vfs_.stat(p))
        result.entry = *entry;
    else
        result.error = FileError::NoFacts;
    return result;
}

bool FileService::exists(const QString& clientPath) const {
    return vfs_.resolve(cwd_, clientPath, true).exists;
}

FolderListing FileService::list(const QString& clientPath, bool namesOnly) const {
    FolderListing result;
    const ResolvedPath p = resolve(clientPath, true, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    result.isDir = p.isDir;
    if (!allowed(FileOperation::List, p.virtualPath)) {
        result.error = FileError::NotAllowed;
    } else if (p.isDir) {
        if (std::optional<QList<FsEntry>> entries = vfs_.list(p, namesOnly))
            result.entries = std::move(*entries);
        else
            result.error = FileError::CannotRead;
    } else if (const std::optional<FsEntry> entry = vfs_.stat(p)) {
        result.entries.append(*entry);
    } else {
        result.error = FileError::NoFacts;
    }
    return result;
}

OpenedFile FileService::openForReading(const QString& clientPath, qint64 offset) const {
    OpenedFile result;
    result.name = clientPath;
    const ResolvedPath p = resolve(clientPath, true, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (p.isDir) {
        result.error = FileError::IsADirectory;
        return result;
    }
    if (!allowed(FileOperation::Download, p.virtualPath)) {
        result.error = FileError::NotAllowed;
        return result;
    }
    auto file = std::make_unique<QFile>(p.realPath);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        result.error = FileError::OpenFailed;
        result.systemError = file->errorString();
        return result;
    }
    result.size = file->size();
    if (offset > result.size) {
        result.error = FileError::RestartBeyondEnd;
        return result;
    }
    result.file = std::move(file);
    return result;
}

OpenedFile FileService::openForWriting(const QString& clientPath, WriteMode mode,
                                       qint64 offset) const {
    OpenedFile result;
    const bool unique = mode == WriteMode::UniqueName;
    if (mode != WriteMode::Replace)
        offset = 0;
    result.name = clientPath;
    if (unique) {
        const QString base = clientPath.trimmed().isEmpty() ? QStringLiteral("upload") : clientPath;
        for (int i = 0; i < kMaxUniqueTries; ++i) {
            const QString candidate = i == 0 ? base : QStringLiteral("%1.%2").arg(base).arg(i);
            const ResolvedPath r = vfs_.resolve(cwd_, candidate, false);
            if (!r.ok() || !r.exists) {
                result.name = candidate;
                break;
            }
        }
    }
    const ResolvedPath p = resolve(result.name, false, result.error);
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (isRootOrMount(p))
        result.error = FileError::Forbidden;
    else if (p.exists && p.isDir)
        result.error = FileError::IsADirectory;
    else if (unique && p.exists)
        result.error = FileError::NoUniqueName;
    else if (!allowed(FileOperation::Upload, p.virtualPath))
        result.error = FileError::NotAllowed;
    else if (offset > 0 && QFileInfo(p.realPath).size() < offset)
        result.error = FileError::RestartBeyondEnd;
    if (!result.ok())
        return result;

    auto file = std::make_unique<QFile>(p.realPath);
    QIODevice::OpenMode openMode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (mode == WriteMode::Append)
        openMode |= QIODevice::Append;
    else if (unique)
        openMode |= QIODevice::NewOnly;
    else if (offset > 0)
        openMode = QIODevice::ReadWrite | QIODevice::Unbuffered; // keep what is already there
    else
        openMode |= QIODevice::Truncate;
    // A resumed upload replaces everything after the offset, so the result
    // is the first `offset` bytes followed by exactly what the client sends.
    if (!file->open(openMode) || (offset > 0 && (!file->resize(offset) || !file->seek(offset)))) {
        result.error = FileError::OpenFailed;
        result.systemError = file->errorString();
        return result;
    }
    result.file = std::move(file);
    return result;
}

} // namespace kv::files
