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

// Adds the sorted, capped names of `folder`'s entries of `kind` as `key`.
void listEntries(QJsonObject& answer, const QString& key, const QString& folder,
                 QDir::Filter kind) {
    QStringList names;
    QDirIterator it(folder, kind | QDir::NoDotAndDotDot | QDir::Hidden);
    while (it.hasNext())
        names << it.nextFileInfo().fileName();
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    if (names.size() > kMaxBrowsedFolders) {
        names.resize(kMaxBrowsedFolders);
        answer.insert(QStringLiteral("truncated"), true);
    }
    answer.insert(key, QJsonArray::fromStringList(names));
}

} // namespace

BrowseArguments browseArguments(const QJsonObject& body) {
    BrowseArguments arguments;
    arguments.path = body.value(QStringLiteral("path")).toString();
    const QJsonValue files = body.value(QStringLiteral("files"));
    if (!files.isUndefined() && !files.isBool())
        arguments.error =
            QStringLiteral("Richiesta non valida: files va indicato con true o false");
    arguments.files = files.toBool();
    return arguments;
}

QJsonObject browseFolder(const QString& path, bool files) {
    if (!QDir::isAbsolutePath(path) || path.contains(QChar(0)))
        return failure(
            QStringLiteral("La cartella \"%1\" va indicata con un percorso assoluto").arg(path));
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QFileInfo folder(canonical);
    if (canonical.isEmpty() || !folder.isDir())
        return failure(QStringLiteral("La cartella \"%1\" non esiste").arg(path));
    if (!folder.isReadable() || !folder.isExecutable())
        return failure(QStringLiteral("La cartella \"%1\" non è leggibile").arg(canonical));
    QJsonObject answer{
        {QStringLiteral("ok"), true},
        {QStringLiteral("path"), canonical},
        {QStringLiteral("parent"), canonical == QLatin1String("/") ? QString() : folder.path()}};
    // Links to folders count as folders: the chooser offers what a root may be.
    listEntries(answer, QStringLiteral("folders"), canonical, QDir::Dirs);
    if (files) // sockets, pipes and devices are not what a chooser offers
        listEntries(answer, QStringLiteral("files"), canonical, QDir::Files);
    return answer;
}

} // namespace kv
