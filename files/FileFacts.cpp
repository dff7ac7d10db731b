// Facts of disk objects for listings and served paths, straight from
// readdir/fstatat: one system call per entry and no local-time conversion,
// so a folder of 10,000 entries lists in milliseconds.
#include "files/FileFacts.h"

#include <QFile>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::files {

namespace {

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

} // namespace

std::optional<FsEntry> factsOf(const QString& name, int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !isServable(st))
        return std::nullopt;
    return entryOf(name, st);
}

namespace {

// The type readdir gives for a plain file or folder, as stat mode bits; 0
// when only a stat can tell (links, other kinds, file systems without it).
mode_t typeFromFolder(const dirent* d) {
#ifdef _DIRENT_HAVE_D_TYPE
    switch (d->d_type) {
    case DT_REG:
        return S_IFREG;
    case DT_DIR:
        return S_IFDIR;
    default:
        break;
    }
#else
    Q_UNUSED(d);
#endif
    return 0;
}

// Most names are plain ASCII, which needs no UTF-8 decoding: a folder of
// 10,000 such names spent more time decoding them than listing them.
QString decodedName(const char* name) {
    const qsizetype size = qsizetype(std::strlen(name));
    for (qsizetype i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(name[i]) >= 0x80)
            return QFile::decodeName(QByteArray::fromRawData(name, size));
    }
    return QString::fromLatin1(name, size);
}

} // namespace

bool readFolder(UniqueFd folder, QList<FsEntry>& out,
                const std::function<bool(const char* name, struct stat& target)>& follow,
                bool namesOnly) {
    DIR* dir = ::fdopendir(folder.get());
    if (!dir)
        return false;
    folder.release(); // closed with the stream
    const int fd = ::dirfd(dir);
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        struct stat st;
        // Names only: the folder's own type field saves the stat of every
        // plain file and folder.
        const mode_t known = namesOnly ? typeFromFolder(d) : 0;
        if (known != 0) {
            std::memset(&st, 0, sizeof st);
            st.st_mode = known;
        } else if (::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        const QString name = decodedName(d->d_name);
        if (known != 0) {
            // Names only: nothing else of the entry is asked for.
            FsEntry entry;
            entry.name = name;
            entry.isDir = S_ISDIR(known);
            out.append(std::move(entry));
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            struct stat target;
            if (!follow(d->d_name, target)) {
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

} // namespace kv::files
