#include "session/QuotaCounter.h"

#include <QFile>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

namespace kv::session {

namespace {
// Entries counted per turn of the event loop.
constexpr int kEntriesPerSlice = 2048;
} // namespace

QuotaCounter::QuotaCounter(const QStringList& folders) {
    for (const QString& folder : folders)
        if (!folder.isEmpty())
            pending_.append(QFile::encodeName(folder));
}

QuotaCounter::~QuotaCounter() {
    if (dir_)
        ::closedir(dir_);
}

void QuotaCounter::openNext() {
    while (!dir_ && !pending_.isEmpty()) {
        dirPath_ = pending_.takeLast();
        struct stat st {};
        if (::stat(dirPath_.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        // A folder reached twice (overlapping roots, a bind mount) is read once.
        const DiskId id{quint64(st.st_dev), quint64(st.st_ino)};
        if (folderIds_.contains(id))
            continue;
        folderIds_.insert(id);
        dir_ = ::opendir(dirPath_.constData());
    }
}

bool QuotaCounter::step(int entries) {
    for (int n = 0; n < entries;) {
        openNext();
        if (!dir_)
            return true;
        const dirent* entry = ::readdir(dir_);
        if (!entry) {
            ::closedir(dir_);
            dir_ = nullptr;
            continue;
        }
        ++n;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir_), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            pending_.append(dirPath_ + '/' + name);
        } else if (S_ISREG(st.st_mode)) {
            const DiskId id{quint64(st.st_dev), quint64(st.st_ino)};
            if (st.st_nlink > 1) { // only files with other names can be met twice
                if (seenFiles_.contains(id))
                    continue;
                seenFiles_.insert(id);
            }
            tally_.bytes += st.st_size;
            ++tally_.files;
        }
    }
    openNext();
    return !dir_;
}

void QuotaCounter::runToEnd() {
    while (!step(kEntriesPerSlice)) {
    }
}

void QuotaCounter::runOnLoop(QObject* context, std::function<void()> done) {
    if (step(kEntriesPerSlice)) {
        done();
        return;
    }
    QTimer::singleShot(0, context, [this, context, done = std::move(done)]() mutable {
        runOnLoop(context, std::move(done));
    });
}

} // namespace kv::session
