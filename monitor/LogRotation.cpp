#include "monitor/LogRotation.h"

#include <QFile>
#include <algorithm>
#include <sys/stat.h>

namespace kv::monitor {

QString rotatedLogPath(const QString& path, int n) {
    return path + QLatin1Char('.') + QString::number(n);
}

bool rotateBeforeAppend(const QString& path, qint64 incoming, const LogRotation& rotation) {
    if (!rotation.enabled())
        return true;
    // One stat per line: this runs before every line written.
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || info.st_size == 0 ||
        info.st_size + incoming <= rotation.maxBytes)
        return true;

    // At least one rotated file is kept: rotating never deletes the lines
    // just written.
    const int keep = std::clamp(rotation.keep, 1, kMaxRotatedLogs);
    // The oldest kept file goes; the others move one place up, oldest first,
    // so no rename ever lands on a file still to be moved.
    const QString oldest = rotatedLogPath(path, keep);
    if (QFile::exists(oldest) && !QFile::remove(oldest))
        return false;
    for (int n = keep - 1; n >= 1; --n) {
        const QString from = rotatedLogPath(path, n);
        if (QFile::exists(from) && !QFile::rename(from, rotatedLogPath(path, n + 1)))
            return false;
    }
    return QFile::rename(path, rotatedLogPath(path, 1));
}

} // namespace kv::monitor
