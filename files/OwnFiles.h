#pragma once
// The program's own files, which no client reaches whatever the roots and
// virtual folders: the data folder with everything in it (accounts.dat and
// its journal, ftp.log and its rotations, the TLS certificate and key, the
// SFTP host keys, the administration socket and its lock), and single files
// kept elsewhere (the socket and its lock when they fall back to another
// folder).
//
// They are known by identity (device and inode), never by the text of a
// path, so links, "..", letter case and renames change nothing: the data
// folder and the single files' folders are held open, and every file system
// takes their identities when it is made (OwnFilesCheck). An area (root or
// virtual folder destination) is judged once then: apart from the own files
// (nothing more to check, ever), holding some of them (each path it
// resolves is checked, see AreaGuard), or inside the data folder (serves
// nothing).
//
// A second path to the data folder made with a bind mount inside an area
// that does not otherwise hold it is not seen: walking up from the data
// folder follows the mount it was opened through.

#include "files/BeneathOpen.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

struct stat;

namespace kv::files {

struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    bool known = false;
    static FileIdentity of(const struct stat& st);
    // Of an open descriptor; unknown when it cannot be asked.
    static FileIdentity of(int fd);
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

class OwnFiles {
public:
    // Holds `dataFolder` open from now on; nothing is hidden when it cannot be opened.
    explicit OwnFiles(const QString& dataFolder);

    // Hides the file `path` too, found by its name in its folder (held open
    // from now on); one in the data folder is hidden already.
    void addFile(const QString& path);

    bool usable() const { return dataFolder_ != nullptr; }

private:
    friend class OwnFilesCheck;
    struct Single {
        AreaFd folder;
        QByteArray name;
    };
    AreaFd dataFolder_;
    QList<Single> files_;
};

// The own files as one file system sees them, taken when it is made.
class OwnFilesCheck {
public:
    explicit OwnFilesCheck(const OwnFiles& own);

    enum class Place {
        Apart,  // holds none of the own files: nothing to check
        Holds,  // holds some: every path is checked
        Inside, // is the data folder or lies inside it: serves nothing
    };
    // Where the area `areaFd` stands; `holdsDataFolder` tells a Holds area
    // holding the data folder from one holding only single files.
    Place placeOf(int areaFd, bool* holdsDataFolder = nullptr) const;

    // The data folder itself or one of the single files.
    bool isOwn(const struct stat& st) const;
    // Whether the folder `folderFd` (whose identity `folder` may be given)
    // is the data folder or lies inside it, walking up to `area`. True when
    // that cannot be told.
    bool inDataFolder(int folderFd, const FileIdentity& area,
                      const FileIdentity& folder = {}) const;
    // Whether the folder `folder` holds an own file now, at any depth.
    bool holdsOwnFiles(const FileIdentity& folder, const FileIdentity& area) const;

private:
    FileIdentity dataFolder_;
    AreaFd dataFolderFd_;
    QList<FileIdentity> files_;
    QList<AreaFd> fileFolders_;
    // The data folder and the folders above it, when the file system was made.
    QList<FileIdentity> aboveData_;
    // The same for the single files' folders.
    QList<FileIdentity> aboveFiles_;
};

// The check of one area that holds own files, shared by the paths resolved in it.
struct AreaGuard {
    std::shared_ptr<const OwnFilesCheck> check;
    FileIdentity area;
    bool holdsDataFolder = false;
};

// The folder that really holds `name` in `folderFd`, a link in its place
// followed (not beneath anything: the caller opened the name beneath its
// area already); invalid when it cannot be told.
UniqueFd folderHolding(int folderFd, QByteArray name);

} // namespace kv::files
