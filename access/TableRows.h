#pragma once
// The administered tables' rows as JSON, by rowid, for the copy of a remote
// server's accounts.dat (MirrorDatabase) and the server that takes its
// changes: values as SQLite holds them (null, whole numbers, decimals, text),
// and the secrets masked (settings::kWriteOnlyMask) the same way on both ends.

#include <QJsonObject>
#include <QJsonValue>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace kv::access {

// A JSON value for a stored value and back (a whole number stays whole).
QJsonValue jsonOfValue(const QVariant& value);
QVariant valueOfJson(const QJsonValue& value);

// "name" quoted for SQL, as every column name is written ("delete" is a keyword).
QString quotedName(const QString& name);

// The table's columns in their order; empty when the file has no such table.
QStringList tableColumns(const QSqlDatabase& db, const QString& table);

// Whether `column` of `table` holds a secret in `row` (the password of an
// account, a write-only option's value).
bool isSecret(const QString& table, const QString& column, const QJsonObject& row);
// The row with every set secret replaced by the mask.
QJsonObject maskedRow(const QString& table, QJsonObject row);
// Whether `value` is the mask standing for a secret left as it was.
bool isMask(const QJsonValue& value);

// The row `rowid` of `table` with `columns`; nullopt when there is none.
std::optional<QJsonObject> readRow(const QSqlDatabase& db, const QString& table, qint64 rowid,
                                   const QStringList& columns);

} // namespace kv::access
