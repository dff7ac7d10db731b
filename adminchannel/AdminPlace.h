#pragma once
// Where a data folder's administration socket lives, and the claim that
// lets only one server serve a data folder at a time.
//
// The socket is DATA/kestrova.sock when that path fits a Unix socket address
// as Qt makes one (kMaxSocketPathBytes) and the folder is writable, and
// listening there works; otherwise it goes to the
// first usable of $XDG_RUNTIME_DIR, /run/kestrova and /tmp, named after a
// hash of the folder, and its path is written to DATA/kestrova.sock.path for
// the command line to find. The claim is an flock on kestrova.lock next to
// the socket: the kernel drops it when the process ends, however it ends.
//
// A runtime folder other users may write (/tmp) is never used as it is:
// anybody could make the lock there first and hold it, or put a link in its
// place. The socket and the lock go into a folder of our own made in it,
// kestrova-UID, private (0700) and checked before every use.

#include <QString>
#include <QStringList>
#include <optional>

namespace kv {

// A Unix socket address holds 108 bytes; on Linux QLocalServer and
// QLocalSocket keep two of them (a leading and a trailing zero, for the
// abstract namespace) whatever the name, so a longer path is refused.
inline constexpr qsizetype kMaxSocketPathBytes = 106;

struct AdminPlace {
    QString socketPath;
    QString lockPath;
    QString recordPath; // empty when the socket is in the data folder
    // The private folder holding both, to make (makePrivateFolder) before
    // the lock is claimed; empty when they go straight into a folder.
    QString privateFolder;
};

// `runtimeDirs`: where a socket may go when the folder cannot hold it. One
// that others may write is used through a private folder in it, and only
// when it has the sticky bit (otherwise they could rename ours away).
AdminPlace adminPlace(const QString& dataFolder, const QStringList& runtimeDirs);
// The same with $XDG_RUNTIME_DIR, /run/kestrova and /tmp.
AdminPlace adminPlace(const QString& dataFolder);
QStringList defaultRuntimeDirs();
// The place in a runtime folder, even when the data folder could hold the
// socket: where a server goes when listening in the data folder fails.
AdminPlace runtimeAdminPlace(const QString& dataFolder, const QStringList& runtimeDirs);

// Where the command line connects for `dataFolder`: the recorded path, else
// the socket in the folder, else the place this user would have chosen.
QString adminSocketToConnect(const QString& dataFolder);

// Makes `path` a private folder of this user (mode 0700) if missing, and
// checks it, without following links: a folder, not a link, ours, and
// nobody else's to read or write. The reason (Italian) when it is not.
QString makePrivateFolder(const QString& path);

// Holds the lock file of one data folder for the life of the object.
class FolderClaim {
public:
    FolderClaim() = default;
    FolderClaim(const FolderClaim&) = delete;
    FolderClaim& operator=(const FolderClaim&) = delete;
    ~FolderClaim();

    enum class Outcome { Claimed, Taken, Failed };
    // Taken: another process holds it. Failed: the lock file cannot be made
    // or is not a plain file (a link, which is never followed; the reason in
    // `error`).
    Outcome claim(const QString& lockPath, QString* error = nullptr);
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace kv
