#include "access/DataFileMode.h"

#include <QFile>
#include <sys/stat.h>

namespace kv::access {

mode_t dataFileMode(const QString& folder) {
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) == 0 && (info.st_mode & S_ISGID))
        return 0660;
    return 0600;
}

} // namespace kv::access
