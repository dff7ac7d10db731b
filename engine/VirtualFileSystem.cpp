#include "engine/VirtualFileSystem.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDirIterator>
#endif

namespace kv::engine {

namespace {

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity kDiskCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kDiskCase = Qt::CaseSensitive;
#endif

// An operator-typed disk path in one comparable form: '\\' counts as '/',
// no "." or ".." parts, no repeated or trailing separators.
QString cleanDiskPath(const QString& path) {
    QString s = path;
    s.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::cleanPath(s);
}

// The same, but only for absolute paths; anything else is unusable, so a
// relative root never ends up serving the process's working folder.
QString absoluteDiskPath(const QString& path) {
    const QString clean = cleanDiskPath(path);
    if (clean.isEmpty() || clean.contains(QChar(0)) || !QDir::isAbsolutePath(clean))
        return {};
    return clean;
}

// The real path with every link resolved; empty when the object does not
// exist, a link dangles or links loop. (QFileInfo::canonicalFilePath gives
// a looping link's own path back, so realpath is asked directly.)
QString realPathOf(const QString& path) {
#ifdef Q_OS_UNIX
    char buffer[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), buffer))
        return {};
    return QFile::decodeName(buffer);
#else
    return QFileInfo::exists(path) ? QFileInfo(path).canonicalFilePath() : QString();
#endif
}

bool isInside(const QString& path, const QString& folder) {
    if (folder.isEmpty())
        return false;
    if (folder.endsWith(QLatin1Char('/'))) // "/" or a drive root such as "C:/"
        return path.startsWith(folder, kDiskCase) ||
               path.compare(folder.chopped(1), kDiskCase) == 0;
    if (!path.startsWith(folder, kDiskCase))
        return false;
    return path.size() == folder.size() || path.at(folder.size()) == QLatin1Char('/');
}

QString joinDisk(const QString& base, const QString& name) {
    return base.endsWith(QLatin1Char('/')) ? base + name : base + QLatin1Char('/') + name;
}

QString joinVirtual(const QString& dir, const QString& name) {
    return dir == QLatin1String("/") ? dir + name : dir + QLatin1Char('/') + name;
}

bool isPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0));
}

// Where a virtual folder's `source` sits in the client's tree ("/" for the
// root), or empty when it is not the root nor below it.
QString placeOfSource(const QString& source, const QString& rootDisk) {
    // Blanks around the place are dropped, as the folder editor shows it.
    const QString sourceDisk =
        source.trimmed().isEmpty() ? rootDisk : absoluteDiskPath(source.trimmed());
    if (sourceDisk.isEmpty())
        return {}; // a relative place would depend on the process's working folder
    QString relative;
    if (isInside(sourceDisk, rootDisk)) {
        relative = sourceDisk.mid(rootDisk.size());
    } else {
        // The operator may have typed the same folder through another name
        // (a link in the root's path); compare the real folders then.
        const QString realRoot = realPathOf(rootDisk);
        const QString realSource = realPathOf(sourceDisk);
        if (realRoot.isEmpty() || realSource.isEmpty() || !isInside(realSource, realRoot))
            return {};
        relative = realSource.mid(realRoot.size());
    }
    return VirtualFileSystem::normalize(QStringLiteral("/"), relative);
}

// Regular files and folders only; pipes, sockets and devices are never
// served (opening a pipe would block the connection).
bool isServable(const QFileInfo& info) {
    return info.isDir() || info.isFile();
}

// Facts of disk objects. On POSIX systems they come straight from
// readdir/lstat/stat: one system call per entry and no local-time
// conversion, so a folder of 10,000 entries lists in milliseconds.
#ifdef Q_OS_UNIX

FsEntry entryOf(const QString& name, const struct stat& st) {
    FsEntry entry;
    entry.name = name;
    entry.isLink = S_ISLNK(st.st_mode);
    entry.isDir = S_ISDIR(st.st_mode);
    entry.size = entry.isLink ? 0 : qint64(st.st_size);
    entry.modified = QDateTime::fromSecsSinceEpoch(st.st_mtime, Qt::UTC);
    // What the server's own user may do, from the mode bits at hand.
    static const uid_t uid = ::geteuid(); // asked once, not once per entry
    static const gid_t gid = ::getegid();
    const mode_t mode = st.st_mode;
    if (uid == 0) {
        entry.readable = entry.writable = true;
    } else if (st.st_uid == uid) {
        entry.readable = mode & S_IRUSR;
        entry.writable = mode & S_IWUSR;
    } else if (st.st_gid == gid) {
        entry.readable = mode & S_IRGRP;
        entry.writable = mode & S_IWGRP;
    } else {
        entry.readable = mode & S_IROTH;
        entry.writable = mode & S_IWOTH;
    }
    return entry;
}

bool isServable(const struct stat& st) {
    return S_ISDIR(st.st_mode) || S_ISREG(st.st_mode);
}

// Facts of an existing file or folder, links followed; nullopt otherwise.
std::optional<FsEntry> factsOf(const QString& name, const QString& path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !isServable(st))
        return std::nullopt;
    return entryOf(name, st);
}

// Real entries of a folder; a link is followed when `follow` agrees,
// otherwise it is reported as a link.
template <typename Follow>
bool readFolder(const QString& path, QList<FsEntry>& out, Follow follow) {
    DIR* dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        struct stat st;
        if (::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString name = QFile::decodeName(d->d_name);
        if (S_ISLNK(st.st_mode)) {
            struct stat target;
            const QString full = joinDisk(path, name);
            const bool followed = follow(full) && ::fstatat(fd, d->d_name, &target, 0) == 0;
            if (!followed) {
                out.append(entryOf(name, st));
                continue;
            }
            st = target;
        }
        if (isServable(st))
            out.append(entryOf(name, st));
    }
    ::closedir(dir);
    return true;
}

#else

FsEntry entryOf(const QString& name, const QFileInfo& info) {
    FsEntry entry;
    entry.name = name;
    entry.isLink = info.isSymbolicLink();
    entry.isDir = !entry.isLink && info.isDir();
    entry.size = entry.isLink ? 0 : info.size();
    const QDateTime t = info.lastModified();
    entry.modified = t.isValid() ? t.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    entry.readable = info.isReadable();
    entry.writable = info.isWritable();
    return entry;
}

std::optional<FsEntry> factsOf(const QString& name, const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || !isServable(info))
        return std::nullopt;
    FsEntry entry = entryOf(name, info);
    entry.isLink = false;
    entry.isDir = info.isDir();
    entry.size = info.size();
    return entry;
}

template <typename Follow>
bool readFolder(const QString& path, QList<FsEntry>& out, Follow follow) {
    if (!QFileInfo(path).isReadable())
        return false;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (info.isSymbolicLink() && !follow(info.filePath()))
            out.append(entryOf(info.fileName(), info));
        else if (isServable(info))
            out.append(*factsOf(info.fileName(), info.filePath()));
    }
    return true;
}

#endif

} // namespace

VirtualFileSystem::VirtualFileSystem(const QString& rootDir, const QList<VirtualDir>& virtualDirs,
                                     bool followLinks)
    : root_(rootDir), rootDisk_(absoluteDiskPath(rootDir)), virtualDirs_(virtualDirs),
      followLinks_(followLinks) {
    if (rootDisk_.isEmpty())
        return;
    for (const VirtualDir& dir : virtualDirs_) {
        const QString name = dir.name.trimmed();
        const QString destination = absoluteDiskPath(dir.destination);
        if (!isPlainName(name) || destination.isEmpty())
            continue;
        const QString parent = placeOfSource(dir.source, rootDisk_);
        if (parent.isEmpty())
            continue;
        mounts_.append({joinVirtual(parent, name), parent, name, destination});
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
    if (!QFileInfo(mount.destination).isDir())
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

QStringList VirtualFileSystem::allowedAreas() const {
    QStringList areas;
    const QString realRoot = realPathOf(rootDisk_);
    if (!realRoot.isEmpty())
        areas.append(realRoot);
    for (const Mount& mount : mounts_) {
        const QString realDestination = realPathOf(mount.destination);
        if (!realDestination.isEmpty())
            areas.append(realDestination);
    }
    return areas;
}

// `areas` is filled on first use, so paths without links never pay for it.
bool VirtualFileSystem::linkStaysInside(const QString& diskPath, QStringList& areas) const {
    if (!followLinks_)
        return false;
    const QString target = realPathOf(diskPath);
    if (target.isEmpty())
        return false;
    if (areas.isEmpty())
        areas = allowedAreas();
    return std::any_of(areas.cbegin(), areas.cend(),
                       [&target](const QString& area) { return isInside(target, area); });
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
    if (rootDisk_.isEmpty()) {
        result.error = PathError::NotFound;
        return result;
    }

    // The disk folder the path starts from and the parts below it.
    QString disk = rootDisk_;
    QString below = result.virtualPath;
    if (const Mount* mount = innermostMount(result.virtualPath)) {
        disk = mount->destination;
        below = result.virtualPath.mid(mount->virtualPath.size());
        result.isMountPoint = below.isEmpty();
    }
    if (!QFileInfo(disk).isDir()) {
        result.error = PathError::NotFound;
        return result;
    }

    // Walk the parts one by one: only a link can lead away from the start
    // folder, since the parts hold no "..", so only links need the
    // (costlier) real-path check.
    const QStringList parts = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList areas;
    bool exists = true;
    bool isDir = true;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool last = i == parts.size() - 1;
        disk = joinDisk(disk, parts.at(i));
        const QFileInfo info(disk);
        if (info.isSymbolicLink() && !linkStaysInside(disk, areas)) {
            result.error = PathError::Forbidden;
            return result;
        }
        if (!info.exists()) {
            if (!last || mustExist) {
                result.error = PathError::NotFound;
                return result;
            }
            exists = false;
            isDir = false;
            break;
        }
        if (!isServable(info)) {
            result.error = PathError::Forbidden;
            return result;
        }
        isDir = info.isDir();
        if (!last && !isDir) {
            result.error = PathError::NotFound;
            return result;
        }
    }
    result.realPath = disk;
    result.exists = exists;
    result.isDir = isDir;
    return result;
}

std::optional<QList<FsEntry>> VirtualFileSystem::list(const ResolvedPath& dir) const {
    if (!dir.ok() || !dir.exists || !dir.isDir || dir.realPath.isEmpty())
        return std::nullopt;
    QList<FsEntry> entries;
    QStringList areas;
    const bool readable = readFolder(dir.realPath, entries, [this, &areas](const QString& link) {
        return linkStaysInside(link, areas);
    });
    if (!readable)
        return std::nullopt;

    // Virtual folders placed here take the place of real entries of the same name.
    QStringList mounted;
    for (const Mount& mount : mounts_) {
        if (mount.parentPath != dir.virtualPath || mounted.contains(mount.name))
            continue;
        const std::optional<FsEntry> folder = factsOf(mount.name, mount.destination);
        if (!folder || !folder->isDir)
            continue;
        mounted.append(mount.name);
        entries.removeIf([&mount](const FsEntry& e) { return e.name == mount.name; });
        entries.append(*folder);
    }

    std::sort(entries.begin(), entries.end(),
              [](const FsEntry& a, const FsEntry& b) { return a.name < b.name; });
    return entries;
}

std::optional<FsEntry> VirtualFileSystem::stat(const ResolvedPath& path) const {
    if (!path.ok() || !path.exists || path.realPath.isEmpty())
        return std::nullopt;
    const QString name = path.virtualPath == QLatin1String("/")
                             ? QStringLiteral("/")
                             : path.virtualPath.mid(path.virtualPath.lastIndexOf('/') + 1);
    return factsOf(name, path.realPath);
}

} // namespace kv::engine
