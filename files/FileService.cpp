// File operations of one session: resolve, decide, then touch the disk, in
// the order every protocol answers the same way.
#include "files/FileService.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::files {

namespace {

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

// Every change is made with the *at() calls on the object's name in its
// folder, that folder opened beneath the area: nothing is reached by a
// disk path, so nothing outside can be touched.
bool changeAt(const ResolvedPath& p, const std::function<bool(int folder, const char* name)>& op) {
    const UniqueFd folder = p.openParent();
    return folder.valid() && op(folder.get(), p.lastName().constData());
}

} // namespace

FileService::FileService(std::shared_ptr<const LoginGrant> grant, bool followLinks,
                         ChangeSink changed, AreaRegistry* areas, const OwnFiles* ownFiles)
    : grant_(std::move(grant)), changed_(std::move(changed)) {
    if (grant_)
        vfs_ = VirtualFileSystem(grant_->root, grant_->virtualDirs, followLinks, areas, ownFiles);
}

ResolvedPath FileService::resolve(const QString& clientPath, bool mustExist,
                                  FileError& error) const {
    ResolvedPath p = vfs_.resolve(cwd_, clientPath, mustExist);
    error = errorOf(p.error);
    if (error == FileError::None && mustExist && !p.exists)
        error = FileError::NotFound;
    return p;
}

ResolvedPath FileService::admit(const QString& clientPath, const Needs& needs, FileError& error,
                                QString& path) const {
    using Kind = Needs::Kind;
    ResolvedPath p = resolve(clientPath, needs.kind != Kind::Absent, error);
    if (error != FileError::None)
        return p;
    path = p.virtualPath;
    if (needs.kind == Kind::Folder && !p.isDir)
        error = FileError::NotADirectory;
    else if (needs.kind == Kind::File && p.isDir)
        error = FileError::IsADirectory;
    else if (needs.changesObject && (p.isRootOrMount() || p.holdsOwnFiles()))
        error = FileError::Forbidden;
    else if (needs.kind == Kind::Absent && p.exists)
        error = FileError::Exists;
    else if (needs.operation && !allowed(*needs.operation))
        error = FileError::NotAllowed;
    return p;
}

bool FileService::allowed(FileOperation operation) const {
    return isAllowed(grant_.get(), operation);
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
    const ResolvedPath p = admit(clientPath, {Needs::Kind::Folder, false, FileOperation::ChangeDir},
                                 result.error, result.path);
    if (result.ok())
        cwd_ = p.virtualPath;
    return result;
}

PathResult FileService::makeFolder(const QString& clientPath) {
    PathResult result;
    const ResolvedPath p = admit(clientPath, {Needs::Kind::Absent, false, FileOperation::MakeDir},
                                 result.error, result.path);
    if (!result.ok())
        return result;
    if (!changeAt(p, [](int at, const char* name) { return ::mkdirat(at, name, 0777) == 0; }))
        result.error = FileError::Failed;
    else
        report(events::FileChange::FolderMade, p);
    return result;
}

PathResult FileService::removeFolder(const QString& clientPath) {
    PathResult result;
    const ResolvedPath p = admit(clientPath, {Needs::Kind::Folder, true, FileOperation::RemoveDir},
                                 result.error, result.path);
    if (!result.ok())
        return result;
    if (!changeAt(
            p, [](int at, const char* name) { return ::unlinkat(at, name, AT_REMOVEDIR) == 0; })) {
        result.error = FileError::Failed;
        return result;
    }
    if (cwd_ == p.virtualPath || cwd_.startsWith(p.virtualPath + u'/'))
        cwd_ = QStringLiteral("/");
    report(events::FileChange::FolderRemoved, p);
    return result;
}

PathResult FileService::deleteFile(const QString& clientPath) {
    PathResult result;
    const ResolvedPath p = admit(clientPath, {Needs::Kind::File, false, FileOperation::Delete},
                                 result.error, result.path);
    if (!result.ok())
        return result;
    if (!changeAt(p, [](int at, const char* name) { return ::unlinkat(at, name, 0) == 0; }))
        result.error = FileError::Failed;
    else
        report(events::FileChange::Deleted, p);
    return result;
}

RenameSource FileService::renameSource(const QString& clientPath) const {
    RenameSource source;
    // The right is asked for once the new name is known.
    const ResolvedPath p =
        admit(clientPath, {Needs::Kind::Any, true, std::nullopt}, source.error, source.path);
    if (source.ok())
        source.resolved_ = p;
    return source;
}

PathResult FileService::rename(const RenameSource& from, const QString& newClientPath) {
    PathResult result;
    if (!from.ok() || !from.resolved_.area) {
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
    if (!allowed(FileOperation::Rename)) {
        result.error = FileError::NotAllowed;
        return result;
    }
    // renameat2 never copies: across file systems it fails instead of
    // blocking the caller on a long copy. An object that appeared under the
    // new name meanwhile is not replaced.
    const UniqueFd fromFolder = from.resolved_.openParent();
    const UniqueFd toFolder = to.openParent();
    bool moved = false;
    if (fromFolder.valid() && toFolder.valid()) {
        const QByteArray fromName = from.resolved_.lastName(), toName = to.lastName();
        moved = ::renameat2(fromFolder.get(), fromName.constData(), toFolder.get(),
                            toName.constData(), RENAME_NOREPLACE) == 0;
        if (!moved && errno == EINVAL) // a file system that cannot promise it
            moved = ::renameat(fromFolder.get(), fromName.constData(), toFolder.get(),
                               toName.constData()) == 0;
    }
    if (!moved) {
        result.error = FileError::Failed;
        return result;
    }
    report(events::FileChange::Renamed, from.resolved_, &to);
    return result;
}

PathResult FileService::setModified(const QString& clientPath, const QDateTime& utc) {
    PathResult result;
    const ResolvedPath p = admit(clientPath, {Needs::Kind::Any, false, FileOperation::SetTime},
                                 result.error, result.path);
    if (!result.ok())
        return result;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // the access time stays
    times[1].tv_sec = time_t(utc.toSecsSinceEpoch());
    times[1].tv_nsec = 0;
    // The root, a mount point or a followed link: the object opened beneath
    // its area, reached through the descriptor's own name.
    const auto throughDescriptor = [&p, &times] {
        const UniqueFd target = p.open(O_PATH);
        if (!target.valid())
            return false;
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(target.get());
        return ::utimensat(AT_FDCWD, self.constData(), times, 0) == 0;
    };
    const bool done = p.below.isEmpty()
                          ? throughDescriptor()
                          : changeAt(p, [&times, &throughDescriptor](int at, const char* name) {
                                struct stat st;
                                if (::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                                    return false;
                                return S_ISLNK(st.st_mode)
                                           ? throughDescriptor()
                                           : ::utimensat(at, name, times, AT_SYMLINK_NOFOLLOW) == 0;
                            });
    if (!done)
        result.error = FileError::Failed;
    return result;
}

FactsResult FileService::stat(const QString& clientPath) const {
    FactsResult result;
    const ResolvedPath p = admit(clientPath, {Needs::Kind::Any, false, FileOperation::Stat},
                                 result.error, result.path);
    if (!result.ok())
        return result;
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
    FolderListing result = listLazily(clientPath, namesOnly);
    if (result.more) {
        while (result.more->take(result.entries, 4096)) {
        }
        result.more.reset();
    }
    return result;
}

FolderListing FileService::listLazily(const QString& clientPath, bool namesOnly) const {
    FolderListing result;
    const ResolvedPath p = admit(clientPath, {Needs::Kind::Any, false, FileOperation::List},
                                 result.error, result.path);
    result.isDir = p.ok() && p.isDir;
    if (!result.ok())
        return result;
    if (p.isDir) {
        result.more = vfs_.entries(p, namesOnly);
        if (!result.more)
            result.error = FileError::CannotRead;
    } else if (const std::optional<FsEntry> entry = vfs_.stat(p)) {
        result.entries.append(*entry);
    } else {
        result.error = FileError::NoFacts;
    }
    return result;
}

} // namespace kv::files
