#pragma once
// What one stat says of a file, so that something read from it can be kept
// until the file changes. A change in the same tick of the file system's
// clock as the read could leave the times as they were: a file changed
// shortly before it was stamped proves nothing, and is read again.

#include <QString>
#include <chrono>

namespace kv::access {

class FileStamp {
public:
    using Clock = std::chrono::system_clock;
    // Longer than the coarsest timestamps a data folder may sit on (2 s on FAT).
    static constexpr std::chrono::seconds kSettleTime{3};

    // Taken before the file is read. A file that cannot be stat'ed gives a
    // stamp that proves nothing.
    static FileStamp of(const QString& path, Clock::time_point now = Clock::now());

    // True only when `later` shows the very same file with the same size and
    // times, and those times were settled when this stamp was taken.
    bool provesUnchanged(const FileStamp& later) const;

private:
    bool valid_ = false;
    unsigned long long device_ = 0, inode_ = 0;
    long long size_ = 0;
    std::chrono::nanoseconds modified_{}, changed_{}, takenAt_{};
};

} // namespace kv::access
