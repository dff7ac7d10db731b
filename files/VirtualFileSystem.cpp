// The path checkpoint: client paths normalised against the current folder
// (".." stops at the root), mapped onto the root and the virtual folders,
// with links followed only when they stay inside what the connection sees.
#include "files/VirtualFileSystem.h"

#include <string_view>

#include "files/DiskPaths.h"

#include <QFileInfo>

#include <algorithm>

namespace kv::files {

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
        const std::optional<QString> below = sourceBelowRoot(dir.source, rootDisk_);
        if (!below)
            continue;
        const QString parent = normalize(QStringLiteral("/"), *below);
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
    // Walk the parts one by one: only a link can lead away from the start
    // folder, since the parts hold no "..", so only links need the
    // (costlier) real-path check.
    const QStringList parts = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // An existing first part shows that the start folder is a folder; it
    // is only asked for by itself when that proof is missing (one stat less
    // for every path that exists).
    const auto startIsFolder = [start = disk] { return QFileInfo(start).isDir(); };
    if (parts.isEmpty() && !startIsFolder()) {
        result.error = PathError::NotFound;
        return result;
    }
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
            if (!last || mustExist || (i == 0 && !startIsFolder())) {
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

std::optional<QList<FsEntry>> VirtualFileSystem::list(const ResolvedPath& dir,
                                                      bool namesOnly) const {
    if (!dir.ok() || !dir.exists || !dir.isDir || dir.realPath.isEmpty())
        return std::nullopt;
    QList<FsEntry> entries;
    QStringList areas;
    const auto follow = [this, &areas](const QString& link) {
        return linkStaysInside(link, areas);
    };
    const bool readable = readFolder(dir.realPath, entries, follow, namesOnly);
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

    // By UTF-16 code units, the order of QString's operator<, compared
    // inline: for 10,000 short names the out-of-line comparison was a good
    // part of a names-only listing.
    const auto units = [](const QString& s) {
        return std::u16string_view(reinterpret_cast<const char16_t*>(s.constData()),
                                   size_t(s.size()));
    };
    std::sort(entries.begin(), entries.end(), [&units](const FsEntry& a, const FsEntry& b) {
        return units(a.name) < units(b.name);
    });
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

} // namespace kv::files
