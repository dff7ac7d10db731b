// The program's own files by identity: folders held open, and walks up the
// folder tree with ".." comparing devices and inodes.
#include "files/OwnFiles.h"

#include <QFile>

#include <climits>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::files {

namespace {

// Deeper than any path a client may send can reach.
constexpr int kMaxDepth = 4096;
// As the kernel's own limit on links met in one lookup.
constexpr int kMaxLinkHops = 40;

// Visits `startFd` (whose identity `id` may be known already) and each
// folder above it, up to the top of the tree, until `stop` says so: true
// when it stopped, false at the top, nullopt when a folder above cannot be
// opened (the caller then assumes the worst).
std::optional<bool> walkUp(int startFd, const std::function<bool(const FileIdentity&)>& stop,
                           FileIdentity id = {}) {
    if (!id.known)
        id = FileIdentity::of(startFd);
    if (!id.known)
        return std::nullopt;
    UniqueFd held;
    int fd = startFd;
    for (int step = 0; step < kMaxDepth; ++step) {
        if (stop(id))
            return true;
        UniqueFd up(::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        const FileIdentity above = FileIdentity::of(up.get());
        if (!above.known)
            return std::nullopt;
        if (above == id) // the top: its ".." is itself
            return false;
        held = std::move(up);
        fd = held.get();
        id = above;
    }
    return std::nullopt;
}

QList<FileIdentity> folderAndAbove(int fd) {
    QList<FileIdentity> chain;
    walkUp(fd, [&chain](const FileIdentity& id) {
        chain.append(id);
        return false;
    });
    return chain;
}

// Whether walking up from `fd` (identity `start`, when known) meets
// `wanted` before `area`; true when that cannot be told.
bool meets(int fd, const FileIdentity& wanted, const FileIdentity& area,
           const FileIdentity& start = {}) {
    bool met = false;
    const std::optional<bool> stopped = walkUp(
        fd,
        [&](const FileIdentity& id) {
            met = id == wanted;
            return met || id == area;
        },
        start);
    return !stopped || met;
}

} // namespace

FileIdentity FileIdentity::of(const struct stat& st) {
    return {quint64(st.st_dev), quint64(st.st_ino), true};
}

FileIdentity FileIdentity::of(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return {};
    return of(st);
}

OwnFiles::OwnFiles(const QString& dataFolder)
    : dataFolder_(openArea(QFile::encodeName(dataFolder), true)) {}

void OwnFiles::addFile(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0 || slash == path.size() - 1)
        return;
    Single single{
        openArea(QFile::encodeName(slash == 0 ? QStringLiteral("/") : path.left(slash)), true),
        QFile::encodeName(path.mid(slash + 1))};
    if (!single.folder)
        return;
    const FileIdentity folder = FileIdentity::of(single.folder->get());
    if (dataFolder_ && folder == FileIdentity::of(dataFolder_->get()))
        return;
    for (const Single& known : files_) {
        if (known.name == single.name && FileIdentity::of(known.folder->get()) == folder)
            return;
    }
    files_.append(std::move(single));
}

OwnFilesCheck::OwnFilesCheck(const OwnFiles& own) : dataFolderFd_(own.dataFolder_) {
    if (dataFolderFd_) {
        aboveData_ = folderAndAbove(dataFolderFd_->get());
        if (!aboveData_.isEmpty())
            dataFolder_ = aboveData_.first();
    }
    for (const OwnFiles::Single& single : own.files_) {
        struct stat st {};
        if (::fstatat(single.folder->get(), single.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // not made yet, or gone
        files_.append(FileIdentity::of(st));
        fileFolders_.append(single.folder);
        aboveFiles_ += folderAndAbove(single.folder->get());
    }
}

OwnFilesCheck::Place OwnFilesCheck::placeOf(int areaFd, bool* holdsDataFolder) const {
    if (holdsDataFolder)
        *holdsDataFolder = false;
    const FileIdentity area = FileIdentity::of(areaFd);
    if (!area.known)
        return Place::Apart; // nothing is served from it anyway
    if (dataFolder_.known) {
        if (area == dataFolder_)
            return Place::Inside;
        if (aboveData_.contains(area)) {
            if (holdsDataFolder)
                *holdsDataFolder = true;
            return Place::Holds;
        }
        // Inside the data folder when walking up meets it before any folder
        // above it (from there on the walk could never meet it).
        bool inside = false;
        const std::optional<bool> stopped = walkUp(areaFd, [&](const FileIdentity& id) {
            inside = id == dataFolder_;
            return inside || aboveData_.contains(id);
        });
        if (!stopped || inside)
            return Place::Inside;
    }
    return aboveFiles_.contains(area) ? Place::Holds : Place::Apart;
}

bool OwnFilesCheck::isOwn(const struct stat& st) const {
    const FileIdentity id = FileIdentity::of(st);
    return id == dataFolder_ || files_.contains(id);
}

bool OwnFilesCheck::inDataFolder(int folderFd, const FileIdentity& area,
                                 const FileIdentity& folder) const {
    return dataFolder_.known && meets(folderFd, dataFolder_, area, folder);
}

bool OwnFilesCheck::holdsOwnFiles(const FileIdentity& folder, const FileIdentity& area) const {
    // Walked up now, from the folders themselves: they may have moved since.
    if (dataFolderFd_ && meets(dataFolderFd_->get(), folder, area))
        return true;
    for (const AreaFd& fileFolder : fileFolders_) {
        if (meets(fileFolder->get(), folder, area))
            return true;
    }
    return false;
}

UniqueFd folderHolding(int folderFd, QByteArray name) {
    UniqueFd folder(::openat(folderFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int hop = 0; hop < kMaxLinkHops && folder.valid(); ++hop) {
        struct stat st {};
        if (::fstatat(folder.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(st.st_mode))
            return folder;
        char target[PATH_MAX];
        const ssize_t size = ::readlinkat(folder.get(), name.constData(), target, sizeof target);
        if (size <= 0 || size >= ssize_t(sizeof target))
            return UniqueFd();
        const QByteArray link(target, size);
        const qsizetype slash = link.lastIndexOf('/');
        if (slash < 0) {
            name = link;
            continue;
        }
        name = link.mid(slash + 1);
        const QByteArray above = slash == 0 ? QByteArray("/") : link.left(slash);
        if (name.isEmpty() || name == "." || name == "..") // names a folder: it holds itself
            return UniqueFd(
                ::openat(folder.get(), link.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        folder =
            UniqueFd(::openat(folder.get(), above.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return UniqueFd();
}

} // namespace kv::files
