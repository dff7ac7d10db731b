// Files opened for transfers: read from an offset, written in place, appended
// to or made under a name not yet taken, each only as the login's rights allow.
#include "files/FileService.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::files {

namespace {

// Unique names are tried up to this many times.
constexpr int kMaxUniqueTries = 1000;

// Opens a file for a transfer beneath its area; on failure the result says
// why. Non-blocking, so a pipe swapped in for the file cannot hang the
// session; only a regular file is served.
std::unique_ptr<QFile> openFile(const ResolvedPath& p, int flags, QIODevice::OpenMode mode,
                                OpenedFile& result) {
    UniqueFd fd = p.open(flags | O_NONBLOCK, 0666);
    struct stat st {};
    int error = errno;
    if (fd.valid() && ::fstat(fd.get(), &st) != 0) {
        error = errno;
        fd = UniqueFd();
    } else if (fd.valid() && !S_ISREG(st.st_mode)) {
        fd = UniqueFd();
        error = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    }
    if (!fd.valid()) {
        result.error = error == EISDIR ? FileError::IsADirectory : FileError::OpenFailed;
        result.systemError = qt_error_string(error);
        return nullptr;
    }
    // Back to blocking, as transfers expect of a file. F_SETFL keeps only the
    // status flags of `flags` (O_APPEND) and ignores the rest.
    ::fcntl(fd.get(), F_SETFL, flags);
    auto file = std::make_unique<QFile>();
    if (!file->open(fd.get(), mode, QFileDevice::AutoCloseHandle)) {
        result.error = FileError::OpenFailed;
        result.systemError = file->errorString();
        return nullptr;
    }
    fd.release();
    result.diskPath = p.realPath;
    result.size = st.st_size;
    return file;
}

// Opens a new file beside the existing one `p` under a hidden name, with
// the old file's permission bits.
std::unique_ptr<QFile> openBeside(const ResolvedPath& p, OpenedFile& result) {
    UniqueFd folder = p.openParent();
    const QByteArray name = p.lastName();
    int error = errno;
    for (int i = 0; folder.valid() && i < kMaxUniqueTries; ++i) {
        const QByteArray temp = '.' + name + ".kv-parte-" + QByteArray::number(::getpid()) + '-' +
                                QByteArray::number(i);
        UniqueFd fd(::openat(folder.get(), temp.constData(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             p.facts.st_mode & 0777));
        if (!fd.valid()) {
            error = errno;
            if (error == EEXIST)
                continue;
            break;
        }
        auto file = std::make_unique<QFile>();
        if (!file->open(fd.get(), QIODevice::WriteOnly | QIODevice::Unbuffered,
                        QFileDevice::AutoCloseHandle)) {
            ::unlinkat(folder.get(), temp.constData(), 0);
            result.error = FileError::OpenFailed;
            result.systemError = file->errorString();
            return nullptr;
        }
        fd.release();
        result.diskPath = p.realPath;
        result.size = 0;
        result.beside = std::make_shared<BesideFile>(std::move(folder), temp, name);
        return file;
    }
    result.error = FileError::OpenFailed;
    result.systemError = qt_error_string(error);
    return nullptr;
}

} // namespace

OpenedFile FileService::openForReading(const QString& clientPath, qint64 offset) const {
    return openReadable(clientPath, offset, FileOperation::Download);
}

OpenedFile FileService::openReadable(const QString& clientPath, qint64 offset,
                                     FileOperation operation) const {
    OpenedFile result;
    result.name = clientPath;
    const ResolvedPath p =
        admit(clientPath, {Needs::Kind::File, false, operation}, result.error, result.path);
    if (!result.ok())
        return result;
    auto file = openFile(p, O_RDONLY, QIODevice::ReadOnly | QIODevice::Unbuffered, result);
    if (!file)
        return result;
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
    const bool beside = mode == WriteMode::ReplaceBeside;
    result.name = clientPath;
    ResolvedPath p;
    if (unique) {
        // The first name not taken; one that cannot be resolved ends the
        // search with its own error.
        const QString base = clientPath.trimmed().isEmpty() ? QStringLiteral("upload") : clientPath;
        for (int i = 0; i < kMaxUniqueTries; ++i) {
            result.name = i == 0 ? base : QStringLiteral("%1.%2").arg(base).arg(i);
            p = resolve(result.name, false, result.error);
            if (!result.ok() || !p.exists)
                break;
        }
        if (result.ok() && p.exists) {
            result.name = base;
            result.error = FileError::NoUniqueName;
            return result;
        }
    } else {
        p = resolve(clientPath, false, result.error);
    }
    if (!result.ok())
        return result;
    result.path = p.virtualPath;
    if (p.isRootOrMount())
        result.error = FileError::Forbidden;
    else if (p.exists && p.isDir)
        result.error = FileError::IsADirectory;
    else if (!allowed(FileOperation::Upload))
        result.error = FileError::NotAllowed;
    else if (offset > 0 && p.facts.st_size < offset)
        result.error = FileError::RestartBeyondEnd;
    if (!result.ok())
        return result;
    if (beside && p.exists && S_ISREG(p.facts.st_mode)) {
        result.file = openBeside(p, result);
        return result;
    }

    int flags = O_WRONLY | O_CREAT;
    QIODevice::OpenMode openMode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (mode == WriteMode::Append) {
        flags |= O_APPEND;
        openMode |= QIODevice::Append;
    } else if (unique) {
        flags |= O_EXCL;
    } else if (offset > 0) { // keep what is already there
        flags = O_RDWR | O_CREAT;
        openMode = QIODevice::ReadWrite | QIODevice::Unbuffered;
    } else {
        flags |= O_TRUNC;
    }
    auto file = openFile(p, flags, openMode, result);
    if (!file)
        return result;
    // A resumed upload replaces everything after the offset, so the result
    // is the first `offset` bytes followed by exactly what the client sends.
    if (offset > 0 && (!file->resize(offset) || !file->seek(offset))) {
        result.error = FileError::OpenFailed;
        result.systemError = file->errorString();
        return result;
    }
    result.file = std::move(file);
    return result;
}

} // namespace kv::files
