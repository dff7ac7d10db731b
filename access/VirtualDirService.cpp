#include "access/VirtualDirService.h"

#include "access/SqlRows.h"
#include "access/WriteTransaction.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kv::access {

namespace {

const char* const kFieldNames[] = {"name", "source", "destination"};

QString& fieldOf(VirtualDirEntry& entry, VirtualDirField field) {
    switch (field) {
    case VirtualDirField::Name:
        return entry.name;
    case VirtualDirField::Position:
        return entry.position;
    case VirtualDirField::Destination:
        break;
    }
    return entry.destination;
}

// Empty fields are stored as empty text, never as null.
QString stored(const QString& text) {
    return text.isNull() ? QString(QLatin1String("")) : text;
}

} // namespace

VirtualDirService::VirtualDirService(QSqlDatabase db) : db_(std::move(db)) {}

std::optional<qint64> VirtualDirService::ownerOf(const QString& name) const {
    if (name.compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0)
        return kAnonymousOwnerId;
    const QVariant id =
        readValue(db_, QStringLiteral("SELECT ID FROM users WHERE login = ?"), {name});
    if (!id.isValid())
        return std::nullopt;
    return id.toLongLong();
}

QList<VirtualDirRow> VirtualDirService::folders(std::optional<qint64> owner, QString* error) const {
    QString select = QStringLiteral("SELECT v.rowid, CASE WHEN v.user = 0 THEN 'anonymous' ELSE "
                                    "u.login END, v.name, v.source, v.destination "
                                    "FROM virtualdirs v LEFT JOIN users u ON u.ID = v.user");
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    bool ok = query.prepare(select + (owner ? QStringLiteral(" WHERE v.user = ? ORDER BY v.rowid")
                                            : QStringLiteral(" ORDER BY 2, 3")));
    if (ok && owner)
        query.addBindValue(*owner);
    ok = ok && query.exec();
    QList<VirtualDirRow> rows;
    while (ok && query.next()) {
        // A null field reads as empty text.
        rows << VirtualDirRow{
            query.value(0).toLongLong(),
            query.value(1).toString(),
            {query.value(2).toString(), query.value(3).toString(), query.value(4).toString()}};
    }
    if (error)
        *error = ok ? QString() : query.lastError().text();
    return rows;
}

std::optional<qint64> VirtualDirService::find(qint64 owner, const QString& name) const {
    const QVariant rowid =
        readValue(db_, QStringLiteral("SELECT rowid FROM virtualdirs WHERE user = ? AND name = ?"),
                  {owner, name});
    if (!rowid.isValid())
        return std::nullopt;
    return rowid.toLongLong();
}

std::variant<qint64, QString> VirtualDirService::add(qint64 owner, const VirtualDirEntry& entry) {
    if (const auto problem = virtualDirProblem(db_, owner, entry))
        return *problem;
    qint64 rowid = -1;
    const auto error = inWriteTransaction(db_, [&]() -> std::optional<QString> {
        QSqlQuery query(db_);
        query.prepare(QStringLiteral(
            "INSERT INTO virtualdirs (name, source, destination, user) VALUES (?, ?, ?, ?)"));
        for (const QString& text : {entry.name, entry.position, entry.destination})
            query.addBindValue(stored(text));
        query.addBindValue(owner);
        if (!query.exec())
            return QStringLiteral("Modifica non salvata: %1").arg(query.lastError().text());
        rowid = query.lastInsertId().toLongLong();
        return std::nullopt;
    });
    if (error)
        return *error;
    return rowid;
}

std::optional<QString> VirtualDirService::fieldProblem(qint64 owner, qint64 rowid,
                                                       const VirtualDirEntry& current,
                                                       VirtualDirField field,
                                                       const QString& value) const {
    VirtualDirEntry entry = current;
    fieldOf(entry, field) = value;
    switch (field) {
    case VirtualDirField::Name:
        if (auto problem = virtualDirNameProblem(value))
            return problem;
        break;
    case VirtualDirField::Position:
        if (auto problem = virtualDirPositionProblem(value, ownerRoot(db_, owner)))
            return problem;
        break;
    case VirtualDirField::Destination:
        return virtualDirDestinationProblem(value);
    }
    if (entry.name.trimmed().isEmpty())
        return std::nullopt;
    return virtualDirDuplicate(db_, owner, entry, rowid);
}

std::optional<QString> VirtualDirService::change(qint64 owner, qint64 rowid, VirtualDirField field,
                                                 const QString& value) {
    const auto rows = readRows(
        db_,
        QStringLiteral("SELECT name, source, destination FROM virtualdirs WHERE rowid = ? AND "
                       "user = ?"),
        {rowid, owner});
    if (rows.isEmpty())
        return QStringLiteral("La cartella virtuale non esiste più");
    const QVariantList& r = rows.first();
    const VirtualDirEntry current{r[0].toString(), r[1].toString(), r[2].toString()};
    if (const auto problem = fieldProblem(owner, rowid, current, field, value))
        return problem;
    return writeAll(db_, {{QStringLiteral("UPDATE virtualdirs SET %1 = ? WHERE rowid = ? AND "
                                          "user = ?")
                               .arg(QLatin1String(kFieldNames[int(field)])),
                           {stored(value), rowid, owner}}});
}

std::optional<QString> VirtualDirService::remove(qint64 owner, qint64 rowid) {
    return writeAll(db_, {{QStringLiteral("DELETE FROM virtualdirs WHERE rowid = ? AND user = ?"),
                           {rowid, owner}}});
}

std::optional<QString> VirtualDirService::removeAll(qint64 owner) {
    return writeAll(db_, {{QStringLiteral("DELETE FROM virtualdirs WHERE user = ?"), {owner}}});
}

} // namespace kv::access
