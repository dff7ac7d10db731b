// The copy of a remote server's administered tables, and its changes.
#include "access/MirrorDatabase.h"

#include "access/AccountKeys.h"
#include "access/AccountLimitsTable.h"
#include "access/AccountSchema.h"
#include "access/TableRows.h"
#include "access/WriteTransaction.h"

#include <QHash>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>

namespace kv::access {

namespace {

const QString kColumns = QStringLiteral("columns");
const QString kRows = QStringLiteral("rows");

QString sqlError(const QSqlQuery& query) {
    return QStringLiteral("Copia dei dati del server non riuscita: %1")
        .arg(query.lastError().text());
}

// The tables a file gains only with their first row: a copy has them all.
std::optional<QString> ensureOptionalTables(QSqlDatabase& db) {
    if (const auto error = AccountLimitsTable::ensure(db))
        return error;
    if (const auto error = ensureActionsTable(db))
        return error;
    if (const auto error = ensureActionTriggers(db))
        return error;
    if (!tableColumns(db, QStringLiteral("account_keys")).isEmpty())
        return std::nullopt;
    QSqlQuery query(db);
    for (const QString& statement : AccountKeys::tableStatements()) {
        if (!query.exec(statement))
            return sqlError(query);
    }
    return std::nullopt;
}

std::optional<QString> loadTable(QSqlDatabase& db, const QString& table, const QJsonObject& data) {
    const QStringList local = tableColumns(db, table);
    QStringList columns;
    for (const QJsonValue& column : data.value(kColumns).toArray()) {
        if (!local.contains(column.toString()))
            return QStringLiteral("La tabella %1 del server ha la colonna \"%2\", che questa "
                                  "versione del programma non conosce")
                .arg(table, column.toString());
        columns << quotedName(column.toString());
    }
    const QJsonArray rows = data.value(kRows).toArray();
    if (rows.isEmpty())
        return std::nullopt;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO %1 (rowid%2) VALUES (?%3)")
                      .arg(quotedName(table),
                           columns.isEmpty() ? QString() : u',' + columns.join(u','),
                           QString(QStringLiteral(",?")).repeated(columns.size())));
    for (const QJsonValue& rowValue : rows) {
        const QJsonArray row = rowValue.toArray();
        if (row.size() != columns.size() + 1 || !row.first().isDouble())
            return QStringLiteral("Dati del server non validi nella tabella %1").arg(table);
        for (const QJsonValue& value : row)
            query.addBindValue(valueOfJson(value));
        if (!query.exec())
            return sqlError(query);
    }
    return std::nullopt;
}

// Rows of one table by rowid, as JSON objects of its snapshot's columns.
using RowsById = QMap<qint64, QJsonObject>;

RowsById snapshotRows(const QJsonObject& data, const QStringList& columns) {
    RowsById rows;
    for (const QJsonValue& rowValue : data.value(kRows).toArray()) {
        const QJsonArray row = rowValue.toArray();
        QJsonObject object;
        for (int i = 0; i < columns.size(); ++i)
            object.insert(columns[i], row.at(i + 1));
        rows.insert(row.first().toInteger(), object);
    }
    return rows;
}

RowsById currentRows(const QSqlDatabase& db, const QString& table, const QStringList& columns) {
    QStringList quoted{QStringLiteral("rowid")};
    for (const QString& column : columns)
        quoted << quotedName(column);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    RowsById rows;
    if (!query.exec(QStringLiteral("SELECT %1 FROM %2").arg(quoted.join(u','), quotedName(table))))
        return rows;
    while (query.next()) {
        QJsonObject object;
        for (int i = 0; i < columns.size(); ++i)
            object.insert(columns[i], jsonOfValue(query.value(i + 1)));
        rows.insert(query.value(0).toLongLong(), object);
    }
    return rows;
}

QJsonObject change(const QString& table, qint64 rowid, const QJsonValue& before,
                   const QJsonValue& after) {
    return {{QStringLiteral("table"), table},
            {QStringLiteral("rowid"), rowid},
            {QStringLiteral("before"), before},
            {QStringLiteral("after"), after}};
}

QStringList columnNames(const QJsonObject& data) {
    QStringList columns;
    for (const QJsonValue& column : data.value(kColumns).toArray())
        columns << column.toString();
    return columns;
}

} // namespace

const QStringList& mirroredTables() {
    static const QStringList tables = {
        QStringLiteral("users"),        QStringLiteral("anonymous"),
        QStringLiteral("settings"),     QStringLiteral("options"),
        QStringLiteral("IPok"),         QStringLiteral("IPko"),
        QStringLiteral("virtualdirs"),  QStringLiteral("account_limits"),
        QStringLiteral("account_keys"), QStringLiteral("actions"),
    };
    return tables;
}

std::optional<QString> loadSnapshot(QSqlDatabase db, const QJsonObject& tables) {
    for (const QString& table : mirroredTables()) {
        if (!tables.value(table).isObject())
            return QStringLiteral("I dati del server non comprendono la tabella %1").arg(table);
    }
    return inWriteTransaction(db, [&]() -> std::optional<QString> {
        if (const auto error = ensureOptionalTables(db))
            return error;
        QSqlQuery query(db);
        // Emptied first, then filled: the triggers on users fire only on its
        // deletes (taking rows that go anyway) and updates, never on inserts.
        for (const QString& table : mirroredTables()) {
            if (!query.exec(QStringLiteral("DELETE FROM %1").arg(quotedName(table))))
                return sqlError(query);
        }
        for (const QString& table : mirroredTables()) {
            if (const auto error = loadTable(db, table, tables.value(table).toObject()))
                return error;
        }
        return std::nullopt;
    });
}

QJsonArray changesSince(const QSqlDatabase& db, const QJsonObject& tables) {
    // Deletes first, the tables that follow an account before its row (so
    // what the server's triggers would take is gone already, and a login or
    // a name a delete frees is free for a later row); then each table from
    // users on, its updates before its inserts (a rename frees a login).
    QHash<QString, QPair<RowsById, RowsById>> rows; // table: (snapshot, now)
    for (const QString& table : mirroredTables()) {
        const QJsonObject data = tables.value(table).toObject();
        QStringList columns = columnNames(data);
        if (columns.isEmpty())
            columns = tableColumns(db, table);
        rows.insert(table, {snapshotRows(data, columns), currentRows(db, table, columns)});
    }
    QJsonArray changes;
    for (auto table = mirroredTables().crbegin(); table != mirroredTables().crend(); ++table) {
        const auto& [before, now] = rows[*table];
        for (auto row = before.cbegin(); row != before.cend(); ++row) {
            if (!now.contains(row.key()))
                changes.append(change(*table, row.key(), row.value(), QJsonValue::Null));
        }
    }
    for (const QString& table : mirroredTables()) {
        const auto& [before, now] = rows[table];
        QJsonArray inserts;
        for (auto row = now.cbegin(); row != now.cend(); ++row) {
            const auto old = before.constFind(row.key());
            if (old == before.cend())
                inserts.append(change(table, row.key(), QJsonValue::Null, row.value()));
            else if (old.value() != row.value())
                changes.append(change(table, row.key(), old.value(), row.value()));
        }
        for (const QJsonValue& insert : inserts)
            changes.append(insert);
    }
    return changes;
}

} // namespace kv::access
