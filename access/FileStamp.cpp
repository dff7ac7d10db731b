#include "access/FileStamp.h"

#include <QFile>

#include <sys/stat.h>

namespace kv::access {

namespace {

std::chrono::nanoseconds since1970(const timespec& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

} // namespace

FileStamp FileStamp::of(const QString& path, Clock::time_point now) {
    FileStamp stamp;
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.valid_ = true;
    stamp.device_ = st.st_dev;
    stamp.inode_ = st.st_ino;
    stamp.size_ = st.st_size;
    stamp.modified_ = since1970(st.st_mtim);
    stamp.changed_ = since1970(st.st_ctim);
    stamp.takenAt_ = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch());
    return stamp;
}

bool FileStamp::provesUnchanged(const FileStamp& later) const {
    if (!valid_ || !later.valid_)
        return false;
    const bool same = device_ == later.device_ && inode_ == later.inode_ && size_ == later.size_ &&
                      modified_ == later.modified_ && changed_ == later.changed_;
    const auto lastTouch = std::max(modified_, changed_);
    return same && lastTouch + kSettleTime < takenAt_;
}

} // namespace kv::access
