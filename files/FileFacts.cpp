// Facts of disk objects for listings and served paths, straight from
// readdir/fstatat: one system call per entry and no local-time conversion,
// so a folder of 10,000 entries lists in milliseconds.
#include "files/FileFacts.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
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
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return factsOf(name, st);
}

std::optional<FsEntry> factsOf(const QString& name, const struct stat& st) {
    if (!isServable(st))
        return std::nullopt;
    return entryOf(name, st);
}

namespace {

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

FolderEntries::FolderEntries(UniqueFd folder, Follow follow, bool namesOnly, Hide hide,
                             qsizetype heldBytes)
    : follow_(std::move(follow)), hide_(std::move(hide)), namesOnly_(namesOnly) {
    // A descriptor of its own for reading the names: the stream closes it,
    // while folder_ stays open for the facts asked later.
    const int readFd = folder.valid() ? ::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0) : -1;
    DIR* dir = readFd >= 0 ? ::fdopendir(readFd) : nullptr;
    if (!dir) {
        if (readFd >= 0)
            ::close(readFd);
        return;
    }
    folder_ = std::move(folder);
    ok_ = true;
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        const size_t size = std::strlen(d->d_name);
        Name name;
        name.offset = quint32(names_.size());
        name.type = namesOnly_ && !hide_ ? d->d_type : 0;
        for (size_t i = 0; i < size && name.ascii; ++i)
            name.ascii = static_cast<unsigned char>(d->d_name[i]) < 0x80;
        names_.append(d->d_name, qsizetype(size) + 1); // with its NUL
        order_.push_back(name);
        if (names_.size() + qsizetype(order_.size() * sizeof(Name)) > heldBytes) {
            // Too many to sort: read again from the start as they come.
            names_ = QByteArray();
            std::vector<Name>().swap(order_);
            ::rewinddir(dir);
            stream_ = dir;
            streamed_ = true;
            return;
        }
    }
    ::closedir(dir);
    // Held while the client reads: no room to spare.
    names_.squeeze();
    order_.shrink_to_fit();
}

FolderEntries::~FolderEntries() {
    if (stream_)
        ::closedir(stream_);
}

void FolderEntries::addFolder(const QString& name, AreaFd fd) {
    if (!ok_ || !fd || sorted_ || folders_.size() >= std::numeric_limits<qint16>::max())
        return;
    const QByteArray bytes = name.toUtf8();
    for (const Name& n : order_) {
        if (n.folder >= 0 && bytes == names_.constData() + n.offset)
            return;
    }
    Name added;
    added.offset = quint32(names_.size());
    added.ascii = std::all_of(bytes.cbegin(), bytes.cend(),
                              [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    added.folder = qint16(folders_.size());
    folders_.append(std::move(fd));
    names_.append(bytes.constData(), bytes.size() + 1);
    order_.push_back(added);
}

void FolderEntries::sort() {
    sorted_ = true;
    const char* base = names_.constData();
    // UTF-8 bytes order as code points do, and code points order as UTF-16
    // units do unless both names hold other than ASCII: only those are
    // decoded to compare.
    std::stable_sort(order_.begin(), order_.end(), [base](const Name& a, const Name& b) {
        const char* x = base + a.offset;
        const char* y = base + b.offset;
        if (a.ascii || b.ascii)
            return std::strcmp(x, y) < 0;
        return QFile::decodeName(x) < QFile::decodeName(y);
    });
    // An added folder hides the real entry of its name, next to it now.
    std::vector<Name> kept;
    kept.reserve(order_.size());
    for (const Name& n : order_) {
        if (!kept.empty() && std::strcmp(base + kept.back().offset, base + n.offset) == 0) {
            if (n.folder >= 0 && kept.back().folder < 0)
                kept.back() = n;
            continue;
        }
        kept.push_back(n);
    }
    order_.swap(kept);
}

std::optional<FsEntry> FolderEntries::entryFor(const Name& n) const {
    const char* raw = names_.constData() + n.offset;
    if (n.folder >= 0)
        return kv::files::factsOf(n.ascii ? QString::fromLatin1(raw) : decodedName(raw),
                                  folders_.at(n.folder)->get());
    return entryFor(raw, n.ascii, n.type);
}

std::optional<FsEntry> FolderEntries::entryFor(const char* raw, bool ascii,
                                               unsigned char type) const {
    const QString name = ascii ? QString::fromLatin1(raw) : decodedName(raw);
    // Names only: the folder's own type field saves the stat of every plain
    // file and folder.
    const mode_t known = type == DT_REG ? S_IFREG : type == DT_DIR ? S_IFDIR : 0;
    if (known != 0) {
        FsEntry entry;
        entry.name = name;
        entry.isDir = S_ISDIR(known);
        return entry;
    }
    struct stat st;
    if (::fstatat(folder_.get(), raw, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt; // gone meanwhile
    bool followed = false;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (!follow_ || !follow_(raw, target))
            return entryOf(name, st);
        st = target;
        followed = true;
    }
    if (!isServable(st) || (hide_ && hide_(folder_.get(), raw, st, followed)))
        return std::nullopt;
    return entryOf(name, st);
}

bool FolderEntries::isAddedFolder(const char* name) const {
    // Virtual folders placed in one folder are a handful.
    return std::any_of(order_.begin(), order_.end(), [this, name](const Name& n) {
        return n.folder >= 0 && std::strcmp(names_.constData() + n.offset, name) == 0;
    });
}

bool FolderEntries::takeStreamed(QList<FsEntry>& out, qsizetype count) {
    bool read = false;
    for (qsizetype taken = 0; taken < count; ++taken) {
        const dirent* d = ::readdir(stream_);
        if (!d) {
            ::closedir(stream_);
            stream_ = nullptr;
            folder_ = UniqueFd(); // nothing more is asked of it
            break;
        }
        read = true;
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0 ||
            isAddedFolder(d->d_name))
            continue;
        const bool ascii = std::all_of(d->d_name, d->d_name + std::strlen(d->d_name),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (std::optional<FsEntry> entry =
                entryFor(d->d_name, ascii, namesOnly_ && !hide_ ? d->d_type : 0))
            out.append(std::move(*entry));
    }
    return read;
}

bool FolderEntries::take(QList<FsEntry>& out, qsizetype count) {
    if (!ok_)
        return false;
    if (!sorted_)
        sort();
    // Past the names held (in a huge folder: the virtual folders placed in
    // it), the folder as it is read.
    if (next_ >= order_.size())
        return stream_ && takeStreamed(out, count);
    for (qsizetype taken = 0; taken < count && next_ < order_.size(); ++taken) {
        if (std::optional<FsEntry> entry = entryFor(order_[next_++]))
            out.append(std::move(*entry));
    }
    if (next_ >= order_.size() && !stream_)
        folder_ = UniqueFd(); // nothing more is asked of it
    return true;
}

} // namespace kv::files
