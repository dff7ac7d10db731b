// The path checkpoint: client paths normalised against the current folder
// (".." stops at the root), mapped onto the root and the virtual folders,
// with links followed only when they stay inside what the connection sees.
#include "files/VirtualFileSystem.h"

#include "files/DiskPaths.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace kv::files {

VirtualFileSystem::VirtualFileSystem(const QString& rootDir, const QList<VirtualDir>& virtualDirs,
                                     bool followLinks, AreaRegistry* areas)
    : root_(rootDir), rootDisk_(absoluteDiskPath(rootDir)), virtualDirs_(virtualDirs),
      followLinks_(followLinks) {
    if (rootDisk_.isEmpty())
        return;
    auto openFolder = [areas](const QString& path, bool lastMayBeLink) {
        const QByteArray disk = QFile::encodeName(path);
        return areas ? areas->open(disk, lastMayBeLink) : openArea(disk, lastMayBeLink);
    };
    // The root may be typed through links; the folder they lead to now is
    // the boundary from here on.
    rootFd_ = openFolder(rootDisk_, true);
    for (const VirtualDir& dir : virtualDirs_) {
        const QString name = dir.name.trimmed();
        const QString destination = absoluteDiskPath(dir.destination);
        if (!isPlainName(name) || destination.isEmpty())
            continue;
        const std::optional<QString> below = sourceBelowRoot(dir.source, rootDisk_);
        if (!below)
            continue;
        const QString parent = normalize(QStringLiteral("/"), *below);
        // A link put in place of the destination is not the folder the
        // operator chose.
        mounts_.append(
            {joinVirtual(parent, name), parent, name, destination, openFolder(destination, false)});
    }
}

QString VirtualFileSystem::normalize(const QString& cwd, const QString& clientPath) {
    const bool absolute =
        clientPath.startsWith(QLatin1Char('/')) || clientPath.startsWith(QLatin1Char('\\'));
    QStringList parts;
    auto walk = [&parts](QStringView path) {
        qsizetype start = 0;
        for (qsizetype i = 0; i <= path.size(); ++i) {
            if (i < path.size() && path[i] != QLatin1Char('/') && path[i] != QLatin1Char('\\'))
                continue;
            const QStringView part = path.mid(start, i - start);
            start = i + 1;
            if (part.isEmpty() || part == QLatin1String("."))
                continue;
            if (part == QLatin1String("..")) {
                if (!parts.isEmpty())
                    parts.removeLast();
                continue;
            }
            parts.append(part.toString());
        }
    };
    if (!absolute)
        walk(cwd);
    walk(clientPath);
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

bool VirtualFileSystem::isVisible(const Mount& mount) const {
    if (!mount.fd)
        return false;
    // The folder it appears in must exist for the client; its path is
    // shorter, so this recursion ends.
    const ResolvedPath parent = resolve(QStringLiteral("/"), mount.parentPath, true);
    return parent.ok() && parent.isDir;
}

const VirtualFileSystem::Mount*
VirtualFileSystem::innermostMount(const QString& virtualPath) const {
    const Mount* best = nullptr;
    for (const Mount& mount : mounts_) {
        const bool covers = virtualPath == mount.virtualPath ||
                            virtualPath.startsWith(mount.virtualPath + QLatin1Char('/'));
        if (!covers || (best && best->virtualPath.size() >= mount.virtualPath.size()))
            continue;
        if (isVisible(mount))
            best = &mount;
    }
    return best;
}

namespace {

PathError errorOfOpen(int error) {
    // ELOOP: a link not to be followed, or looping; EXDEV: leading out.
    if (error == ENAMETOOLONG)
        return PathError::TooLong;
    return error == ELOOP || error == EXDEV ? PathError::Forbidden : PathError::NotFound;
}

bool isServable(const struct stat& st) {
    return S_ISDIR(st.st_mode) || S_ISREG(st.st_mode);
}

} // namespace

UniqueFd ResolvedPath::openParent() const {
    if (!area || below.isEmpty())
        return UniqueFd();
    const qsizetype slash = below.lastIndexOf('/');
    return openBeneath(area->get(), slash < 0 ? QByteArray() : below.left(slash),
                       O_PATH | O_DIRECTORY, followLinks);
}

QByteArray ResolvedPath::lastName() const {
    return below.mid(below.lastIndexOf('/') + 1);
}

UniqueFd ResolvedPath::open(int flags, mode_t mode) const {
    if (!area)
        return UniqueFd();
    return openBeneath(area->get(), below, flags, followLinks, mode);
}

ResolvedPath VirtualFileSystem::resolve(const QString& cwd, const QString& clientPath,
                                        bool mustExist) const {
    ResolvedPath result;
    if (clientPath.contains(QChar(0)) || cwd.contains(QChar(0))) {
        result.error = PathError::Forbidden;
        return result;
    }
    if (clientPath.size() > kMaxPathLength) {
        result.error = PathError::TooLong;
        return result;
    }
    result.virtualPath = normalize(cwd, clientPath);
    if (result.virtualPath.size() > kMaxPathLength) {
        result.error = PathError::TooLong;
        return result;
    }
    if (!rootFd_) {
        result.error = PathError::NotFound;
        return result;
    }

    // The folder the path is opened beneath and the part below it.
    QString disk = rootDisk_;
    QString below = result.virtualPath;
    result.area = rootFd_;
    if (const Mount* mount = innermostMount(result.virtualPath)) {
        disk = mount->destination;
        below = result.virtualPath.mid(mount->virtualPath.size());
        result.isMountPoint = below.isEmpty();
        result.area = mount->fd;
    }
    below.remove(0, 1); // the leading '/'
    result.below = QFile::encodeName(below);
    result.followLinks = followLinks_;

    if (result.below.isEmpty()) {
        if (::fstat(result.area->get(), &result.facts) != 0) {
            result.error = PathError::NotFound;
            return result;
        }
    } else {
        const UniqueFd parent = result.openParent();
        if (!parent.valid()) {
            result.error = errorOfOpen(errno);
            return result;
        }
        const QByteArray name = result.lastName();
        if (::fstatat(parent.get(), name.constData(), &result.facts, AT_SYMLINK_NOFOLLOW) != 0) {
            if (mustExist || errno != ENOENT) {
                result.error = errno == ENAMETOOLONG ? PathError::TooLong : PathError::NotFound;
                return result;
            }
            result.realPath = joinDisk(disk, below);
            return result; // a new object in an existing folder
        }
        if (S_ISLNK(result.facts.st_mode)) {
            // Followed only when it stays beneath the area.
            const UniqueFd target = result.open(O_PATH);
            if (!followLinks_ || !target.valid() || ::fstat(target.get(), &result.facts) != 0) {
                result.error = PathError::Forbidden;
                return result;
            }
        }
    }
    if (!isServable(result.facts)) {
        result.error = PathError::Forbidden;
        return result;
    }
    result.realPath = below.isEmpty() ? disk : joinDisk(disk, below);
    result.exists = true;
    result.isDir = S_ISDIR(result.facts.st_mode);
    return result;
}

std::shared_ptr<FolderEntries> VirtualFileSystem::entries(const ResolvedPath& dir,
                                                          bool namesOnly) const {
    if (!dir.ok() || !dir.exists || !dir.isDir || !dir.area)
        return nullptr;
    UniqueFd folder = dir.open(O_RDONLY | O_DIRECTORY);
    if (!folder.valid())
        return nullptr;
    // Everything the links are followed with is held by value: the entries
    // may outlive this file system (a new login while a listing is sent).
    FolderEntries::Follow follow;
    if (followLinks_) {
        follow = [area = dir.area, prefix = dir.below.isEmpty() ? QByteArray() : dir.below + '/'](
                     const char* name, struct stat& target) {
            const UniqueFd fd = openBeneath(area->get(), prefix + name, O_PATH, true);
            return fd.valid() && ::fstat(fd.get(), &target) == 0;
        };
    }
    auto result = std::make_shared<FolderEntries>(std::move(folder), std::move(follow), namesOnly);
    if (!result->ok())
        return nullptr;
    // Virtual folders placed here take the place of real entries of the same name.
    for (const Mount& mount : mounts_) {
        if (mount.fd && mount.parentPath == dir.virtualPath)
            result->addFolder(mount.name, mount.fd);
    }
    return result;
}

std::optional<QList<FsEntry>> VirtualFileSystem::list(const ResolvedPath& dir,
                                                      bool namesOnly) const {
    const std::shared_ptr<FolderEntries> all = entries(dir, namesOnly);
    if (!all)
        return std::nullopt;
    QList<FsEntry> result;
    while (all->take(result, 4096)) {
    }
    return result;
}

std::optional<FsEntry> VirtualFileSystem::stat(const ResolvedPath& path) const {
    if (!path.ok() || !path.exists || !path.area)
        return std::nullopt;
    const QString name = path.virtualPath == QLatin1String("/")
                             ? QStringLiteral("/")
                             : path.virtualPath.mid(path.virtualPath.lastIndexOf('/') + 1);
    // The facts the path was resolved with: it is stat'ed right after.
    return factsOf(name, path.facts);
}

} // namespace kv::files
