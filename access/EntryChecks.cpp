#include "access/EntryChecks.h"

#include "files/DiskPaths.h"
#include "settings/AddressPattern.h"
#include "settings/FolderPresence.h"
#include "settings/OptionCatalog.h"
#include "settings/SharedRoot.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>

namespace kv::access {
using settings::AddressPattern;
using settings::invalidEntryMessage;

namespace {

QString missingFolder(const QString& folder) {
    return QStringLiteral("La cartella \"%1\" non esiste").arg(folder);
}

// A folder typed by the operator: absolute, and there now.
std::optional<QString> existingFolderProblem(const QString& folder) {
    if (!QDir::isAbsolutePath(folder))
        return QStringLiteral("La cartella \"%1\" va indicata con un percorso assoluto")
            .arg(folder);
    if (!settings::folderPresent(folder))
        return missingFolder(folder);
    return std::nullopt;
}

QString firstValue(const QSqlDatabase& db, const QString& select, const QVariantList& params) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(select);
    for (const QVariant& value : params)
        query.addBindValue(value);
    if (!query.exec() || !query.next())
        return {};
    return query.value(0).toString();
}

// Positions compare in one clean form: "" and "/srv/a/" as "/srv/a".
QString comparablePosition(const QString& position) {
    const QString trimmed = position.trimmed();
    return trimmed.isEmpty() ? QString() : files::cleanDiskPath(trimmed);
}

// What the whole disk as a root means, said by the question and the refusal alike.
QString wholeDiskShared(const RootOwner& owner) {
    return QStringLiteral("Per %1 sarebbe condiviso tutto il disco (/), compresi i file "
                          "personali e quelli di sistema")
        .arg(owner.name);
}

} // namespace

std::optional<QString> loginProblem(const QSqlDatabase& db, const QString& login, qint64 ownId) {
    if (login.trimmed().isEmpty())
        return QStringLiteral("Il login non può essere vuoto");
    for (const QChar c : login) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return QStringLiteral("Il login non può contenere spazi o caratteri di controllo");
    }
    if (login.compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("\"anonymous\" è l'account anonimo: scegliere un altro login");
    if (login == QLatin1String("*"))
        return QStringLiteral("\"*\" non può essere un login: nelle azioni indica ogni account");
    // The login field ignores letter case, as the login itself does.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT 1 FROM users WHERE login = ? AND ID IS NOT ?"));
    query.addBindValue(login);
    query.addBindValue(ownId < 0 ? QVariant() : QVariant(ownId));
    if (query.exec() && query.next())
        return kDuplicateLoginMessage;
    return std::nullopt;
}

std::optional<QString> rootProblem(const QString& root) {
    if (root.isEmpty())
        return std::nullopt;
    return existingFolderProblem(root);
}

RootOwner defaultRootOwner() {
    return {QStringLiteral("la cartella radice predefinita"), true};
}

RootOwner accountRootOwner(const QString& login) {
    if (login.isEmpty())
        return {QStringLiteral("il nuovo account"), false};
    return {QStringLiteral("l'account %1").arg(login), false};
}

RootOwner anonymousRootOwner() {
    return {QStringLiteral("l'account anonimo"), false};
}

bool rootNeedsWholeDiskChoice(const QString& root, const RootOwner& owner) {
    if (root.trimmed().isEmpty() && !owner.emptyIsWholeDisk)
        return false;
    return settings::sharesWholeDisk(root);
}

QString wholeDiskQuestion(const RootOwner& owner) {
    return wholeDiskShared(owner) + QStringLiteral(".\n\nCondividere davvero tutto il disco?");
}

QString wholeDiskRefusal(const RootOwner& owner) {
    return wholeDiskShared(owner) + QStringLiteral(": per condividerlo comunque aggiungere %1")
                                        .arg(settings::kWholeDiskFlag);
}

QString ownerRoot(const QSqlDatabase& db, qint64 owner) {
    const QString own =
        owner == 0
            ? firstValue(db, QStringLiteral("SELECT rootdir FROM anonymous"), {})
            : firstValue(db, QStringLiteral("SELECT rootdir FROM users WHERE ID = ?"), {owner});
    if (!own.isEmpty())
        return own;
    return firstValue(db, QStringLiteral("SELECT rootdir FROM settings"), {});
}

std::optional<QString> virtualDirNameProblem(const QString& name) {
    if (!files::isPlainName(name.trimmed()))
        return QStringLiteral("Nome di cartella virtuale non valido: \"%1\"").arg(name);
    return std::nullopt;
}

std::optional<QString> virtualDirPositionProblem(const QString& position, const QString& root) {
    if (position.trimmed().isEmpty())
        return std::nullopt;
    // Where the server will look for it: below the root, links included.
    const QString rootDisk = files::absoluteDiskPath(root);
    if (rootDisk.isEmpty() || !files::sourceBelowRoot(position, rootDisk))
        return QStringLiteral("La cartella \"%1\" non è dentro la cartella principale \"%2\"")
            .arg(position, root);
    return std::nullopt;
}

std::optional<QString> virtualDirDestinationProblem(const QString& destination) {
    return existingFolderProblem(destination);
}

std::optional<QString> virtualDirDuplicate(const QSqlDatabase& db, qint64 owner,
                                           const VirtualDirEntry& entry, qint64 ownRowid) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT name, source FROM virtualdirs WHERE user = ? AND rowid IS "
                                 "NOT ?"));
    query.addBindValue(owner);
    query.addBindValue(ownRowid < 0 ? QVariant() : QVariant(ownRowid));
    if (!query.exec())
        return std::nullopt;
    const QString name = entry.name.trimmed();
    const QString position = comparablePosition(entry.position);
    while (query.next()) {
        if (query.value(0).toString().trimmed() == name &&
            comparablePosition(query.value(1).toString()) == position)
            return QStringLiteral("La cartella virtuale \"%1\" esiste già").arg(name);
    }
    return std::nullopt;
}

std::optional<QString> virtualDirProblem(const QSqlDatabase& db, qint64 owner,
                                         const VirtualDirEntry& entry, qint64 ownRowid) {
    if (auto problem = virtualDirNameProblem(entry.name))
        return problem;
    if (auto problem = virtualDirPositionProblem(entry.position, ownerRoot(db, owner)))
        return problem;
    if (auto problem = virtualDirDestinationProblem(entry.destination))
        return problem;
    return virtualDirDuplicate(db, owner, entry, ownRowid);
}

QString alreadyListedMessage(const QString& address) {
    return QStringLiteral("L'indirizzo \"%1\" è già inserito nella lista").arg(address);
}

std::optional<QString> listEntryProblem(const QSqlDatabase& db, const QString& table,
                                        const QString& entry, qint64 ownRowid) {
    const QString trimmed = entry.trimmed();
    if (!AddressPattern::parse(trimmed))
        return invalidEntryMessage(entry);
    if (table != settings::setting::kIpOk && table != settings::setting::kIpKo)
        return std::nullopt;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT 1 FROM %1 WHERE trim(IP) = ? AND rowid IS NOT ?").arg(table));
    query.addBindValue(trimmed);
    query.addBindValue(ownRowid < 0 ? QVariant() : QVariant(ownRowid));
    if (query.exec() && query.next())
        return alreadyListedMessage(trimmed);
    return std::nullopt;
}

} // namespace kv::access
