#include "core/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <sys/stat.h>
#include <unistd.h>

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
    // Private like a given folder: ftp.log holds addresses and logins.
    makeDataFolder(userDataDir);
    return QDir(userDataDir).absolutePath();
}

QString dataFolder(const QString& overrideDir) {
    return chooseDataFolder(overrideDir, QCoreApplication::applicationDirPath(),
                            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

QString serviceDataFolder() {
    return qEnvironmentVariable("KESTROVA_SERVICE_FOLDER", kServiceDataFolder);
}

QString serviceFolderProblem(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.isDir())
        return QStringLiteral("La cartella del servizio di sistema %1 non esiste: il pacchetto "
                              "kestrova-vellim non è installato o il servizio non è mai partito.")
            .arg(folder);
    const QByteArray path = QFile::encodeName(folder);
    const QByteArray accounts = QFile::encodeName(accountsFile(folder));
    // The folder too must be writable: SQLite puts its journal next to the file.
    const bool usable = ::access(path.constData(), R_OK | W_OK | X_OK) == 0 &&
                        (!QFileInfo::exists(accountsFile(folder)) ||
                         ::access(accounts.constData(), R_OK | W_OK) == 0);
    if (usable)
        return {};
    return QStringLiteral(
               "Questo utente non può amministrare il servizio di sistema (cartella %1).\n"
               "Per farlo, entrare nel gruppo %2 con\n"
               "    sudo adduser $USER %2\n"
               "e poi uscire dalla sessione e accedere di nuovo.")
        .arg(folder, kServiceGroup);
}

} // namespace kv
