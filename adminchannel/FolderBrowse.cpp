#include "adminchannel/FolderBrowse.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <algorithm>

namespace kv {

namespace {
QJsonObject failure(const QString& reason) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), reason}};
}
} // namespace

QJsonObject browseFolder(const QString& path) {
    if (!QDir::isAbsolutePath(path) || path.contains(QChar(0)))
        return failure(
            QStringLiteral("La cartella \"%1\" va indicata con un percorso assoluto").arg(path));
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QFileInfo folder(canonical);
    if (canonical.isEmpty() || !folder.isDir())
        return failure(QStringLiteral("La cartella \"%1\" non esiste").arg(path));
    if (!folder.isReadable() || !folder.isExecutable())
        return failure(QStringLiteral("La cartella \"%1\" non è leggibile").arg(canonical));
    QStringList folders;
    // Links to folders count as folders: the chooser offers what a root may be.
    QDirIterator it(canonical, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    while (it.hasNext())
        folders << it.nextFileInfo().fileName();
    std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    QJsonObject answer{
        {QStringLiteral("ok"), true},
        {QStringLiteral("path"), canonical},
        {QStringLiteral("parent"), canonical == QLatin1String("/") ? QString() : folder.path()}};
    if (folders.size() > kMaxBrowsedFolders) {
        folders.resize(kMaxBrowsedFolders);
        answer.insert(QStringLiteral("truncated"), true);
    }
    answer.insert(QStringLiteral("folders"), QJsonArray::fromStringList(folders));
    return answer;
}

} // namespace kv
