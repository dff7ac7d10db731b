#include "core/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kv {

namespace {
bool isWritableFolder(const QString& dir) {
    const QFileInfo info(dir);
    return !dir.isEmpty() && info.isDir() && info.isWritable();
}
} // namespace

QString chooseDataFolder(const QString& overrideDir, const QString& programDir,
                         const QString& userDataDir) {
    if (!overrideDir.isEmpty())
        return QDir(overrideDir).absolutePath();
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
