#include "program/CliContext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kv::cli {

std::optional<QString> closedFolderProblem(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    struct stat info {};
    if (::access(path.constData(), X_OK) == 0 || errno != EACCES ||
        ::stat(path.constData(), &info) != 0)
        return std::nullopt;
    std::vector<char> buffer(16384);
    group groupEntry{};
    group* groupFound = nullptr;
    const QString groupName =
        getgrgid_r(info.st_gid, &groupEntry, buffer.data(), buffer.size(), &groupFound) == 0 &&
                groupFound
            ? QString::fromLocal8Bit(groupFound->gr_name)
            : QString::number(info.st_gid);
    passwd userEntry{};
    passwd* userFound = nullptr;
    const QString userName =
        getpwuid_r(getuid(), &userEntry, buffer.data(), buffer.size(), &userFound) == 0 && userFound
            ? QString::fromLocal8Bit(userFound->pw_name)
            : QStringLiteral("NOME");
    return QStringLiteral("Accesso negato: la cartella dei dati %1 è riservata al gruppo %2. "
                          "Per amministrare il server: sudo adduser %3 %2, poi un nuovo accesso")
        .arg(folder, groupName, userName);
}

int refuse(CliContext& c, const QString& message) {
    c.io.err << message << Qt::endl;
    return kRefused;
}

int usage(CliContext& c, const QString& message) {
    c.io.err << message << Qt::endl << QStringLiteral("Vedere: kestrova help") << Qt::endl;
    return kUsage;
}

int done(CliContext& c, const QString& message) {
    if (!message.isEmpty())
        c.io.out << message << Qt::endl;
    return kDone;
}

QString absoluteFolder(const QString& folder) {
    if (folder.isEmpty() || QDir::isAbsolutePath(folder))
        return folder;
    return QFileInfo(folder).absoluteFilePath();
}

} // namespace kv::cli
