#pragma once
// The file system one connection sees. It is the single checkpoint between
// client paths and disk paths: the protocol code never builds a disk path
// itself.
//
// A client path is normalised against the current folder into a virtual
// path: always absolute ("/a/b"), '/'-separated, without "." or "..", where
// ".." at the root stays at the root and '\\' counts as a separator. The
// virtual path is then mapped onto disk: the connection's root folder is "/",
// and each virtual folder adds a child `name` inside the folder `source`
// (empty: the root) whose contents are the real folder `destination`.
//
// Confinement is a property of how objects are opened, not of a check made
// before: the root and each virtual folder's destination are opened once,
// when the file system is made (at login), and every path is opened beneath
// one of them (see BeneathOpen.h). Renaming folders or swapping links on
// disk afterwards cannot lead a path out of them. Given a registry of open
// areas, file systems whose folders are the same share their descriptors
// (see AreaRegistry.h).
//
// Symbolic links are followed only when followLinks is set, and then only
// when their target stays below the folder the path started in (the root, or
// the destination of the virtual folder the path lies in), written as a
// relative link; a link that leads out of it (or nowhere: dangling, looping)
// is never followed. A link that is not followed resolves to Forbidden and
// is listed as a link (isLink) without its target, so no disk path is ever
// revealed.
//
// A virtual folder is used only when its `source` is the root or lies below
// it, its name is one plain path segment, its destination is an existing
// folder given as an absolute path whose last part is not a link, and the
// folder it appears in exists. It then hides a real entry of the same name.
// Of several with the same place, the first added wins.
//
// The root must be an absolute path ('\\' counts as '/'); with an empty or
// relative root nothing resolves (NotFound), so the process's working folder
// is never served by accident.
//
// Sockets, pipes and devices are neither listed nor served (Forbidden): a
// pipe would block the connection on open.
//
// Given the program's own files (OwnFiles.h), they are never listed nor
// resolved (NotFound, as if missing), and a root or virtual folder inside
// the data folder serves nothing (notes() says so). Only areas that hold
// some of them check each path; the objects opened for a path checked so
// are the ones checked (the same device and inode).

#include "files/AreaRegistry.h"
#include "files/BeneathOpen.h"
#include "files/FileFacts.h"
#include "files/OwnFiles.h"
#include "files/VirtualDir.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include <sys/stat.h>

namespace kv::files {

// Longest client path accepted, in characters.
inline constexpr int kMaxPathLength = 4096;

enum class PathError {
    None,
    NotFound,  // no such file or folder (or its parent, for a new one)
    Forbidden, // leaves what the connection may see, or is a virtual folder's mount point
    TooLong,
};

struct ResolvedPath {
    PathError error = PathError::None;
    QString virtualPath; // normalised client-visible path
    QString realPath;    // disk path; empty on error
    bool exists = false;
    bool isDir = false;
    bool isMountPoint = false; // the path is a virtual folder itself (cannot be renamed/removed)
    bool followLinks = false;
    AreaFd area;          // the folder the object is opened beneath
    QByteArray below;     // its path below `area`, "" for the area itself
    struct stat facts {}; // of the object, as resolved (links followed)
    // Set in an area holding own files: what its opens check again.
    std::shared_ptr<const AreaGuard> guard;
    FileIdentity parent; // with a guard: the folder holding the object, as checked
    bool ok() const { return error == PathError::None; }
    // The root or a virtual folder itself: never renamed, removed or written over.
    bool isRootOrMount() const { return isMountPoint || virtualPath == u"/"; }
    // A folder holding some of the program's own files: never renamed, removed or changed.
    bool holdsOwnFiles() const;

    // The folder holding the object (O_PATH), opened beneath the area, and
    // the object's name in it; invalid for the area itself.
    UniqueFd openParent() const;
    QByteArray lastName() const;
    // The object itself, opened beneath the area with open(2) `flags`.
    UniqueFd open(int flags, mode_t mode = 0) const;
};

class VirtualFileSystem {
public:
    VirtualFileSystem() = default;
    // `areas` (may be null: every folder opened afresh) and `ownFiles` (may
    // be null: nothing hidden) are used only here.
    VirtualFileSystem(const QString& rootDir, const QList<VirtualDir>& virtualDirs,
                      bool followLinks, AreaRegistry* areas = nullptr,
                      const OwnFiles* ownFiles = nullptr);

    // Pure text operation, no disk access; the result is always absolute
    // ("/" for the root). It does not validate: resolve() rejects NUL bytes
    // and paths longer than kMaxPathLength.
    static QString normalize(const QString& cwd, const QString& clientPath);

    // Resolves a client path (relative to cwd). With mustExist false the object
    // may be missing as long as its parent folder exists (for STOR, MKD, RNTO).
    ResolvedPath resolve(const QString& cwd, const QString& clientPath, bool mustExist) const;

    // Entries of a folder: real entries plus the virtual folders mounted there,
    // sorted by name. std::nullopt when the folder cannot be read. With
    // `namesOnly` only names and isDir are sure (see readFolder).
    std::optional<QList<FsEntry>> list(const ResolvedPath& dir, bool namesOnly = false) const;

    // The same entries, taken a few at a time (see FolderEntries); null
    // when the folder cannot be read.
    std::shared_ptr<FolderEntries> entries(const ResolvedPath& dir, bool namesOnly = false) const;

    // Facts of one existing object, as `path` was resolved with them: ask
    // right after resolving.
    std::optional<FsEntry> stat(const ResolvedPath& path) const;

    const QString& rootDir() const { return root_; }
    bool followLinks() const { return followLinks_; }
    // Why the root or a virtual folder is not served, in Italian; one line each.
    const QStringList& notes() const { return notes_; }

private:
    // A usable virtual folder, placed in the client's tree.
    struct Mount {
        QString virtualPath; // "/sub/name"
        QString parentPath;  // "/sub"
        QString name;
        QString destination; // cleaned absolute disk path
        AreaFd fd;           // the destination, opened when the mount was made
        std::shared_ptr<const AreaGuard> guard;
    };

    const Mount* innermostMount(const QString& virtualPath) const;
    bool isVisible(const Mount& mount) const;

    QString root_;
    AreaFd rootFd_;
    std::shared_ptr<const AreaGuard> rootGuard_;
    QString rootDisk_; // cleaned absolute form of root_; empty when unusable
    QList<VirtualDir> virtualDirs_;
    QList<Mount> mounts_;
    bool followLinks_ = false;
    QStringList notes_;
};

} // namespace kv::files
