#pragma once
// The file operations of one logged-in session, whatever its protocol: a
// client path is resolved against the current folder through the path
// checkpoint, the login's grant is asked whether the operation may run, and
// only then is the disk touched. Results are typed (an error and values);
// turning them into protocol replies is the protocol's job.
//
// Each operation checks in a fixed order, the first failure wins: the path
// (too long, outside what the session sees, missing), the kind of object
// (folder or file), what may never be changed (the root and the virtual
// folders' mount points), what must not exist yet, then the grant, and last
// the disk itself.

#include "events/ServerEvents.h"
#include "files/Authorizer.h"
#include "files/BesideFile.h"
#include "files/FileFacts.h"
#include "files/LoginGrant.h"
#include "files/VirtualFileSystem.h"

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace kv::files {

enum class FileError {
    None,
    TooLong,          // the path is longer than kMaxPathLength
    Forbidden,        // outside what the session sees, a link not followed, or the root
                      // or a mount point for an operation that would change it
    NotAllowed,       // the grant does not include the operation
    NotFound,         // no such object (or, for a new one, no such parent folder)
    NotADirectory,    // a folder was needed
    IsADirectory,     // a file was needed
    Exists,           // the new name is taken
    NoFacts,          // resolved, but its facts could not be read (gone meanwhile)
    CannotRead,       // a folder whose entries cannot be read
    RestartBeyondEnd, // the offset lies past the end of the file
    NoUniqueName,     // every unique name tried is taken
    OpenFailed,       // the system refused to open the file; see systemError
    Failed,           // the system refused the change
    BadMode,          // permission bits outside 0-0777 (set-id, sticky, file type)
};

// The path a result is about, as the client sees it ("/a/b"); empty when
// the path itself was refused.
struct PathResult {
    FileError error = FileError::None;
    QString path;
    bool ok() const { return error == FileError::None; }
};

struct FactsResult {
    FileError error = FileError::None;
    QString path;
    FsEntry entry; // named after the last part of `path` ("/" for the root)
    bool ok() const { return error == FileError::None; }
};

struct FolderListing {
    FileError error = FileError::None;
    QString path;
    bool isDir = false;     // known once the path resolved, also on a later error
    QList<FsEntry> entries; // a folder's entries by name, or the file's own facts
    // listLazily: a folder's entries, still to be taken (entries stays empty).
    std::shared_ptr<FolderEntries> more;
    bool ok() const { return error == FileError::None; }
};

struct OpenedFile {
    FileError error = FileError::None;
    QString path;                // as the client sees it
    QString name;                // the client path used (the unique one for UniqueName)
    QString diskPath;            // the file's, for the events
    std::unique_ptr<QFile> file; // open, positioned at the offset
    // ReplaceBeside over an existing file: the new file's hidden name, put in
    // place by commit(); null otherwise.
    std::shared_ptr<BesideFile> beside;
    qint64 size = -1;    // the file's size once opened: for reading, all there is to send
    QString systemError; // OpenFailed: the system's own words
    bool ok() const { return error == FileError::None; }
};

// Free bytes of the file system holding a folder, as an unprivileged
// writer may use them.
struct SpaceResult {
    FileError error = FileError::None;
    QString path;
    qint64 freeBytes = 0;
    qint64 totalBytes = 0; // the file system's size
    qint64 unitBytes = 0;  // its unit of allocation (statvfs's f_frsize)
    bool ok() const { return error == FileError::None; }
};

enum class WriteMode {
    Replace,    // a new file, or an existing one emptied (or kept up to a resume offset)
    Append,     // written after what the file holds
    UniqueName, // under a name no object has yet
    // As Replace from the start, but an existing file stays until the new
    // one is complete: written beside it (OpenedFile::beside).
    ReplaceBeside,
};

// The source of a rename, checked on its own before the new name is known.
struct RenameSource {
    FileError error = FileError::None;
    QString path;
    bool ok() const { return error == FileError::None; }

private:
    friend class FileService;
    ResolvedPath resolved_; // set once the source is usable
};

class FileService {
public:
    // Told each change made on disk, with the event's session left for the
    // caller to fill in.
    using ChangeSink = std::function<void(events::FileEvent)>;

    // `grant` may be null: then every operation is refused (NotAllowed) and
    // nothing resolves. The grant's root and virtual folders are what the
    // session sees, their folders opened through `areas` when given, less
    // `ownFiles` when given (both used only here).
    FileService(std::shared_ptr<const LoginGrant> grant, bool followLinks, ChangeSink changed = {},
                AreaRegistry* areas = nullptr, const OwnFiles* ownFiles = nullptr);

    // Why the root or a virtual folder of the grant is not served, in
    // Italian, for the login's log; empty when all of them are.
    const QStringList& notes() const { return vfs_.notes(); }

    // The current folder, as the client sees it; "/" at first.
    const QString& currentFolder() const { return cwd_; }

    // Enters a folder (an empty path: the root); returns the new current folder.
    PathResult changeFolder(const QString& clientPath);
    PathResult makeFolder(const QString& clientPath);
    // A current folder inside the removed one goes back to the root.
    PathResult removeFolder(const QString& clientPath);
    PathResult deleteFile(const QString& clientPath);
    RenameSource renameSource(const QString& clientPath) const;
    // Never replaces an existing object, never copies across file systems.
    PathResult rename(const RenameSource& from, const QString& newClientPath);
    PathResult setModified(const QString& clientPath, const QDateTime& utc);

    // Facts of one existing object.
    FactsResult stat(const QString& clientPath) const;
    // Whether the path names an existing object the session may see.
    bool exists(const QString& clientPath) const;
    // A folder's entries (virtual folders included), or a file's own facts.
    // With `namesOnly` only the names and isDir are sure.
    FolderListing list(const QString& clientPath, bool namesOnly = false) const;
    // The same, but a folder's entries are left in `more`, to be taken while
    // the client reads them.
    FolderListing listLazily(const QString& clientPath, bool namesOnly = false) const;

    OpenedFile openForReading(const QString& clientPath, qint64 offset = 0) const;

    // Operations for clients that manage files from afar (FileServiceExtras.cpp).
    // A folder that cannot be made says why: TooLong for a name the file
    // system refuses as too long, Exists, else Failed with `systemError`.
    PathResult makeFolderSaying(const QString& clientPath, QString& systemError);
    // Permission bits 0-0777 of a file or folder (never set-id or sticky);
    // the root and mount points are Forbidden.
    PathResult setMode(const QString& clientPath, int mode);
    // The file system of a folder (empty path: the current one).
    SpaceResult freeSpace(const QString& clientPath) const;
    // A file opened for reading its bytes to compute a hash (the read right).
    OpenedFile openForChecksum(const QString& clientPath) const;
    // A resume offset applies to Replace only.
    OpenedFile openForWriting(const QString& clientPath, WriteMode mode, qint64 offset = 0) const;

private:
    // Opens a regular file for reading at `offset` once `operation` is allowed.
    OpenedFile openReadable(const QString& clientPath, qint64 offset,
                            FileOperation operation) const;
    // What an operation asks of its path, checked in the order above.
    struct Needs {
        enum class Kind {
            Any,    // an existing object
            Folder, // an existing folder (else NotADirectory)
            File,   // an existing object that is not a folder (else IsADirectory)
            Absent, // nothing under that name yet (else Exists)
        };
        Kind kind;
        bool changesObject; // the root, the mount points and folders of own files are Forbidden
        std::optional<FileOperation> operation; // the right asked for; none: decided later
    };
    // The path resolved and checked against `needs`: `error` is the first
    // failure, `path` the client path once it resolved.
    ResolvedPath admit(const QString& clientPath, const Needs& needs, FileError& error,
                       QString& path) const;
    // The resolved path, or the error of a path that does not resolve (with
    // `mustExist`, also of one that does not exist).
    ResolvedPath resolve(const QString& clientPath, bool mustExist, FileError& error) const;
    bool allowed(FileOperation operation) const;
    void report(events::FileChange change, const ResolvedPath& p, const ResolvedPath* to = nullptr);

    std::shared_ptr<const LoginGrant> grant_;
    VirtualFileSystem vfs_;
    ChangeSink changed_;
    QString cwd_ = QStringLiteral("/");
};

} // namespace kv::files
