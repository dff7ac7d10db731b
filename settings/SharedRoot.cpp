#include "settings/SharedRoot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace kv::settings {

bool sharesWholeDisk(const QString& root) {
    QString text = root.trimmed();
    if (text.isEmpty())
        return true;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::cleanPath(text) == QLatin1String("/");
}

QString safeDefaultRoot(bool forService, const QString& home, const QString& publicShare) {
    if (forService)
        return kServiceSharedFolder;
    const QString cleanHome = QDir::cleanPath(home);
    if (!publicShare.isEmpty()) {
        const QFileInfo info(publicShare);
        const QString clean = QDir::cleanPath(info.absoluteFilePath());
        // xdg-user-dirs points a folder the user turned off at the home folder itself.
        if (info.isDir() && clean != cleanHome && !sharesWholeDisk(clean))
            return clean;
    }
    return cleanHome + QLatin1Char('/') + kSharedFolderName;
}

QString safeDefaultRoot(bool forService) {
    return safeDefaultRoot(forService, QDir::homePath(),
                           QStandardPaths::writableLocation(QStandardPaths::PublicShareLocation));
}

QString makeSharedFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isDir())
        return {};
    if (info.exists())
        return QStringLiteral("%1 esiste ma non è una cartella").arg(folder);
    if (!QDir().mkpath(folder))
        return QStringLiteral("impossibile creare la cartella %1").arg(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                      QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                      QFileDevice::ExeOther);
    return {};
}

QString wholeDiskWarning(const QString& who, const QString& command) {
    return QStringLiteral("Attenzione: per %1 è condiviso tutto il disco (/), compresi i file "
                          "personali e quelli di sistema. Per condividere solo una cartella: %2")
        .arg(who, command);
}

} // namespace kv::settings
