#pragma once
// Keeping the log file to a size: before a line that would take the file past
// its limit, ftp.log becomes ftp.log.1, ftp.log.1 becomes ftp.log.2 and so on,
// the oldest beyond the number kept being dropped; the line then starts a new
// ftp.log. Lines are whole in one file, since each is appended in one write
// after the rotation.

#include <QString>

namespace kv::monitor {

struct LogRotation {
    qint64 maxBytes = 0; // 0: the file grows without limit
    int keep = 1; // rotated files kept beside the log (ftp.log.1 ... ftp.log.keep), at least 1

    bool enabled() const { return maxBytes > 0; }
};

// The most rotated files a log may keep.
inline constexpr int kMaxRotatedLogs = 100;

// "<path>.<n>"
QString rotatedLogPath(const QString& path, int n);

// Rotates `path` when appending `incoming` bytes would take it past the limit.
// A file that is still empty or that the line alone overfills is not rotated
// for nothing: a line longer than the limit is written into a file of its own.
// False when a rename failed; the log file is then left as it was, so the
// line is appended there rather than lost.
bool rotateBeforeAppend(const QString& path, qint64 incoming, const LogRotation& rotation);

} // namespace kv::monitor
