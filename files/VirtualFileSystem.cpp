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
                                     bool followLinks, AreaRegistry* areas,
                                     const OwnFiles* ownFiles)
    : root_(rootDir), rootDisk_(absoluteDiskPath(rootDir)), virtualDirs_(virtualDirs),
      followLinks_(followLinks) {
    if (rootDisk_.isEmpty())
        return;
    auto openFolder = [areas](const QString& path, bool lastMayBeLink) {
        const QByteArray disk = QFile::encodeName(path);
        return areas ? areas->open(disk, lastMayBeLink) : openArea(disk, lastMayBeLink);
    };
    // Each area judged once, here: apart from the program's own files (no
    // check afterwards), holding some (a guard), or inside the data folder
    // (not served at all).
    const auto check = ownFiles ? std::make_shared<const OwnFilesCheck>(*ownFiles) : nullptr;
    auto judge = [&check](AreaFd& fd) -> std::shared_ptr<const AreaGuard> {
        if (!check || !fd)
            return nullptr;
        bool holdsDataFolder = false;
        switch (check->placeOf(fd->get(), &holdsDataFolder)) {
        case OwnFilesCheck::Place::Apart:
            break;
        case OwnFilesCheck::Place::Inside:
            fd.reset();
            break;
        case OwnFilesCheck::Place::Holds:
            return std::make_shared<const AreaGuard>(
                AreaGuard{check, FileIdentity::of(fd->get()), holdsDataFolder});
        }
        return nullptr;
    };
    // The root may be typed through links; the folder they lead to now is
    // the boundary from here on.
    rootFd_ = openFolder(rootDisk_, true);
    const bool rootOpened = rootFd_ != nullptr;
    rootGuard_ = judge(rootFd_);
    if (rootOpened && !rootFd_)
        notes_ << QStringLiteral("Cartella radice %1 non servita: è la cartella dei dati del "
                                 "programma o si trova al suo interno")
                      .arg(root_);
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
        Mount mount{joinVirtual(parent, name),      parent, name, destination,
                    openFolder(destination, false), nullptr};
        const bool opened = mount.fd != nullptr;
        mount.guard = judge(mount.fd);
        if (opened && !mount.fd && rootFd_)
            notes_ << QStringLiteral("Cartella virtuale %1 non mostrata: %2 è la cartella dei dati "
                                     "del programma o si trova al suo interno")
                          .arg(mount.virtualPath, destination);
        mounts_.append(std::move(mount));
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

namespace {

UniqueFd openParentOf(const ResolvedPath& p) {
    if (!p.area || p.below.isEmpty())
        return UniqueFd();
    const qsizetype slash = p.below.lastIndexOf('/');
    return openBeneath(p.area->get(), slash < 0 ? QByteArray() : p.below.left(slash),
                       O_PATH | O_DIRECTORY, p.followLinks);
}

UniqueFd openObject(const ResolvedPath& p, int flags, mode_t mode = 0) {
    if (!p.area)
        return UniqueFd();
    return openBeneath(p.area->get(), p.below, flags, p.followLinks, mode);
}

// `fd` when it is the object that was checked, else nothing (ENOENT).
UniqueFd ifChecked(UniqueFd fd, const FileIdentity& checked) {
    if (fd.valid() && FileIdentity::of(fd.get()) != checked) {
        errno = ENOENT;
        return UniqueFd();
    }
    return fd;
}

// Whether a path of an area holding own files is hidden: the object is one
// of them, or lies in the data folder, through the folder holding its name
// or, for a link followed, where the link leads.
bool isHidden(const ResolvedPath& p, int parentFd, bool viaLink) {
    const AreaGuard& guard = *p.guard;
    if (guard.check->isOwn(p.facts))
        return true;
    if (!guard.holdsDataFolder)
        return false;
    if (guard.check->inDataFolder(parentFd, guard.area, p.parent))
        return true;
    if (!viaLink)
        return false;
    const UniqueFd real = S_ISDIR(p.facts.st_mode) ? openObject(p, O_PATH | O_DIRECTORY)
                                                   : folderHolding(parentFd, p.lastName());
    return !real.valid() || guard.check->inDataFolder(real.get(), guard.area);
}

} // namespace

UniqueFd ResolvedPath::openParent() const {
    UniqueFd folder = openParentOf(*this);
    return guard ? ifChecked(std::move(folder), parent) : std::move(folder);
}

QByteArray ResolvedPath::lastName() const {
    return below.mid(below.lastIndexOf('/') + 1);
}

UniqueFd ResolvedPath::open(int flags, mode_t mode) const {
    if (!guard)
        return openObject(*this, flags, mode);
    if (!exists) {
        // A new object: made in the folder checked, no link followed.
        const UniqueFd folder = openParent();
        return folder.valid() ? openBeneath(folder.get(), lastName(), flags, false, mode)
                              : UniqueFd();
    }
    if ((flags & O_CREAT) && (flags & O_EXCL)) {
        errno = EEXIST;
        return UniqueFd();
    }
    // The object checked, and emptied only once it is known to be that one.
    UniqueFd fd = ifChecked(openObject(*this, flags & ~(O_CREAT | O_EXCL | O_TRUNC), mode),
                            FileIdentity::of(facts));
    if (fd.valid() && (flags & O_TRUNC) && ::ftruncate(fd.get(), 0) != 0)
        return UniqueFd();
    return fd;
}

bool ResolvedPath::holdsOwnFiles() const {
    return guard && exists && isDir &&
           guard->check->holdsOwnFiles(FileIdentity::of(facts), guard->area);
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
    result.guard = rootGuard_;
    if (const Mount* mount = innermostMount(result.virtualPath)) {
        disk = mount->destination;
        below = result.virtualPath.mid(mount->virtualPath.size());
        result.isMountPoint = below.isEmpty();
        result.area = mount->fd;
        result.guard = mount->guard;
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
        const UniqueFd parent = openParentOf(result);
        if (!parent.valid()) {
            result.error = errorOfOpen(errno);
            return result;
        }
        if (result.guard)
            result.parent = FileIdentity::of(parent.get());
        const QByteArray name = result.lastName();
        if (::fstatat(parent.get(), name.constData(), &result.facts, AT_SYMLINK_NOFOLLOW) != 0) {
            if (mustExist || errno != ENOENT) {
                result.error = errno == ENAMETOOLONG ? PathError::TooLong : PathError::NotFound;
                return result;
            }
            if (result.guard && result.guard->holdsDataFolder &&
                result.guard->check->inDataFolder(parent.get(), result.guard->area,
                                                  result.parent)) {
                result.error = PathError::NotFound;
                return result;
            }
            result.realPath = joinDisk(disk, below);
            return result; // a new object in an existing folder
        }
        const bool viaLink = S_ISLNK(result.facts.st_mode);
        if (viaLink) {
            // Followed only when it stays beneath the area.
            const UniqueFd target = openObject(result, O_PATH);
            if (!followLinks_ || !target.valid() || ::fstat(target.get(), &result.facts) != 0) {
                result.error = PathError::Forbidden;
                return result;
            }
        }
        if (result.guard && isHidden(result, parent.get(), viaLink)) {
            result.error = PathError::NotFound;
            return result;
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
    // In an area holding own files, they are left out (the folder itself
    // was checked when it resolved); a link followed is judged by where it leads.
    FolderEntries::Hide hide;
    if (const std::shared_ptr<const AreaGuard> guard = dir.guard) {
        hide = [guard, area = dir.area,
                prefix = dir.below.isEmpty() ? QByteArray() : dir.below + '/'](
                   int folder, const char* name, const struct stat& st, bool followed) {
            if (guard->check->isOwn(st))
                return true;
            if (!followed || !guard->holdsDataFolder)
                return false;
            const UniqueFd real = S_ISDIR(st.st_mode) ? openBeneath(area->get(), prefix + name,
                                                                    O_PATH | O_DIRECTORY, true)
                                                      : folderHolding(folder, name);
            return !real.valid() || guard->check->inDataFolder(real.get(), guard->area);
        };
    }
    auto result = std::make_shared<FolderEntries>(std::move(folder), std::move(follow), namesOnly,
                                                  std::move(hide));
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
