#pragma once
// Facts of disk objects as the path checkpoint lists and serves them: one
// entry per file or folder, links reported or followed, and only regular
// files and folders counted as servable.

#include "files/BeneathOpen.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <dirent.h>
#include <functional>
#include <optional>
#include <vector>

struct stat;

namespace kv::files {

struct FsEntry {
    QString name;
    bool isDir = false;
    bool isLink = false; // shown as a link in listings (only when not followed)
    qint64 size = 0;
    QDateTime modified; // UTC
    bool readable = true;
    bool writable = true;
};

// Facts of the open file or folder `fd`, named `name`; nullopt when it
// cannot be asked or is neither a regular file nor a folder (pipes, sockets
// and devices are never served: opening a pipe would block the connection).
std::optional<FsEntry> factsOf(const QString& name, int fd);
// The same from facts already asked (`st`).
std::optional<FsEntry> factsOf(const QString& name, const struct stat& st);

// The servable entries of one open folder ("." and ".." left out), in the
// order of their names' UTF-16 code units (QString's operator<). The names
// are read when it is made; the facts of each entry are asked only when it
// is taken, so a slow client holds a few bytes per name, not the listing.
//
// Sorting needs every name at hand: past `heldBytes` of names (about 8,000
// of 20 characters with the default) the folder is given in the order the
// file system keeps it instead, read a few entries at a time, so a stalled
// listing of a huge folder holds no more than that (clients sort listings
// themselves; `ls -f` gives that order).
//
// A link is followed when `follow` gives the facts of its target for its
// name (then it counts only when the target is servable), otherwise it is
// reported as a link. With `namesOnly` only name and isDir are filled in,
// and entries whose type the folder itself tells (files, folders) cost no
// stat at all (NLST).
//
// `hide`, when given, is asked of every entry with its facts (a link's
// target's when it was followed) and leaves out those it names; every
// entry's facts are then asked, also for names only.
class FolderEntries {
public:
    using Follow = std::function<bool(const char* name, struct stat& target)>;
    using Hide =
        std::function<bool(int folder, const char* name, const struct stat& st, bool followed)>;

    // Names held at most for sorting: see above.
    static constexpr qsizetype kHeldBytes = 256 * 1024;

    // Reads the names of `folder`, which it keeps open until it is done.
    FolderEntries(UniqueFd folder, Follow follow, bool namesOnly, Hide hide = {},
                  qsizetype heldBytes = kHeldBytes);
    ~FolderEntries();
    FolderEntries(const FolderEntries&) = delete;
    FolderEntries& operator=(const FolderEntries&) = delete;
    // False when the folder cannot be read.
    bool ok() const { return ok_; }
    // A folder shown as `name` instead of any real entry of that name (a
    // virtual folder), its facts from `fd`; a name given before wins.
    void addFolder(const QString& name, AreaFd fd);
    // Appends up to `count` further entries; false when none were left.
    bool take(QList<FsEntry>& out, qsizetype count);
    // Whether the entries come in name order (the folder was small enough).
    bool sorted() const { return !streamed_; }
    // Bytes held for the names still to give.
    qsizetype heldBytes() const {
        return names_.capacity() + qsizetype(order_.capacity() * sizeof(Name));
    }

private:
    struct Name {
        quint32 offset = 0; // in names_, NUL-terminated
        unsigned char type = 0;
        bool ascii = true;
        qint16 folder = -1; // index in folders_ for an added folder
    };
    void sort();
    std::optional<FsEntry> entryFor(const Name& name) const;
    std::optional<FsEntry> entryFor(const char* raw, bool ascii, unsigned char type) const;
    // Too many names to sort: the rest comes from the folder as it is read.
    bool takeStreamed(QList<FsEntry>& out, qsizetype count);
    bool isAddedFolder(const char* name) const;

    UniqueFd folder_;
    Follow follow_;
    Hide hide_;
    bool namesOnly_ = false;
    bool ok_ = false;
    bool sorted_ = false;
    QByteArray names_;
    std::vector<Name> order_;
    QList<AreaFd> folders_;
    size_t next_ = 0;
    DIR* stream_ = nullptr; // the folder read as it is, past heldBytes
    bool streamed_ = false;
};

} // namespace kv::files
