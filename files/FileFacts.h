#pragma once
// Facts of disk objects as the path checkpoint lists and serves them: one
// entry per file or folder, links reported or followed, and only regular
// files and folders counted as servable.

#include "files/BeneathOpen.h"

#include <QDateTime>
#include <QList>
#include <QString>

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
// is taken, so a folder of 100,000 entries holds a few bytes per name while
// a slow client reads its listing, not the whole listing.
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

    // Reads the names of `folder`, which it keeps open until it is done.
    FolderEntries(UniqueFd folder, Follow follow, bool namesOnly, Hide hide = {});
    // False when the folder cannot be read.
    bool ok() const { return ok_; }
    // A folder shown as `name` instead of any real entry of that name (a
    // virtual folder), its facts from `fd`; a name given before wins.
    void addFolder(const QString& name, AreaFd fd);
    // Appends up to `count` further entries; false when none were left.
    bool take(QList<FsEntry>& out, qsizetype count);

private:
    struct Name {
        quint32 offset = 0; // in names_, NUL-terminated
        unsigned char type = 0;
        bool ascii = true;
        qint16 folder = -1; // index in folders_ for an added folder
    };
    void sort();
    std::optional<FsEntry> entryFor(const Name& name) const;

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
};

} // namespace kv::files
