#include "core/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <sys/stat.h>

namespace kv {

namespace {
bool isWritableFolder(const QString& dir) {
    const QFileInfo info(dir);
    return !dir.isEmpty() && info.isDir() && info.isWritable();
}
} // namespace

bool makeDataFolder(const QString& folder) {
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists() || path == QLatin1String("/"))
        return false;
    const QString parent = info.absolutePath();
    if (!makeDataFolder(parent))
        return false;
    struct stat parentInfo {};
    if (::stat(QFile::encodeName(parent).constData(), &parentInfo) != 0)
        return false;
    const bool groupShared = (parentInfo.st_mode & S_ISGID) != 0;
    const mode_t mode = groupShared ? (S_ISGID | 0770) : 0700;
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), mode) != 0)
        return QFileInfo(path).isDir(); // made by someone else meanwhile
    ::chmod(name.constData(), mode);    // whatever the umask took away
    return true;
}

QString chooseDataFolder(const QString& overrideDir, const QString& programDir,
                         const QString& userDataDir) {
    if (!overrideDir.isEmpty()) {
        const QString folder = QDir(overrideDir).absolutePath();
        makeDataFolder(folder); // a failure shows when accounts.dat cannot be opened there
        return folder;
    }
    if (isWritableFolder(programDir))
        return QDir(programDir).absolutePath();
    QDir().mkpath(userDataDir);
    return QDir(userDataDir).absolutePath();
}

QString dataFolder(const QString& overrideDir) {
    return chooseDataFolder(overrideDir, QCoreApplication::applicationDirPath(),
                            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

} // namespace kv
