// File operations for clients that manage a folder from afar (cameras,
// scanners, mirroring tools, checksum checks): permission bits, free space,
// reasons a folder cannot be made, and files opened for hashing. Paths go
// through the same resolution and decision as every other operation.
#include "files/FileService.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#else
#include <QStorageInfo>
#endif

namespace kv::files {

namespace {

// The highest mode a client may set: permission bits only.
constexpr int kMaxMode = 0777;

} // namespace

PathResult FileService::makeFolderSaying(const QString& clientPath, QString& systemError) {
    errno = 0;
    PathResult result = makeFolder(clientPath);
    if (result.error != FileError::Failed)
        return result;
    // The system's reason is read at once, before anything else can change it.
    const int cause = errno;
    if (cause == ENAMETOOLONG)
        result.error = FileError::TooLong;
    else if (cause == EEXIST)
        result.error = FileError::Exists;
    else if (cause != 0)
        systemError = QString::fromLocal8Bit(std::strerror(cause));
    return result;
}

PathResult FileService::setMode(const QString& clientPath, int mode) {
    PathResult result;
    if (mode < 0 || mode > kMaxMode) {
        result.error = FileError::BadMode;
        return result;
    }
    const ResolvedPath p = admit(clientPath, {Needs::Kind::Any, true, FileOperation::SetMode},
                                 result.error, result.path);
    if (!result.ok())
        return result;
#ifdef Q_OS_UNIX
    // The object opened beneath its area, changed through the descriptor's
    // own name: a link swapped in meanwhile cannot lead anywhere else.
    const UniqueFd target = p.open(O_PATH);
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(target.get());
    const bool done = target.valid() && ::chmod(self.constData(), mode_t(mode)) == 0;
#else
    const bool done = false; // no Unix permission bits to set
#endif
    if (!done)
        result.error = FileError::Failed;
    return result;
}

SpaceResult FileService::freeSpace(const QString& clientPath) const {
    SpaceResult result;
    const QString target = clientPath.trimmed().isEmpty() ? cwd_ : clientPath;
    const ResolvedPath p = admit(target, {Needs::Kind::Folder, false, FileOperation::FreeSpace},
                                 result.error, result.path);
    if (!result.ok())
        return result;
#ifdef Q_OS_UNIX
    struct statvfs fs {};
    const UniqueFd folder = p.open(O_PATH | O_DIRECTORY);
    if (!folder.valid() || ::fstatvfs(folder.get(), &fs) != 0) {
        result.error = FileError::Failed;
        return result;
    }
    // What an ordinary user may still write: the root's reserve left out.
    result.freeBytes = qint64(fs.f_bavail) * qint64(fs.f_frsize);
    result.totalBytes = qint64(fs.f_blocks) * qint64(fs.f_frsize);
    result.unitBytes = qint64(fs.f_frsize);
#else
    const QStorageInfo storage(p.realPath);
    if (!storage.isValid()) {
        result.error = FileError::Failed;
        return result;
    }
    result.freeBytes = storage.bytesAvailable();
    result.totalBytes = storage.bytesTotal();
    result.unitBytes = storage.blockSize();
#endif
    return result;
}

OpenedFile FileService::openForChecksum(const QString& clientPath) const {
    // The same opening as a download, so both read exactly the same file.
    return openReadable(clientPath, 0, FileOperation::Checksum);
}

} // namespace kv::files
