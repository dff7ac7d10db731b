#pragma once
// A copy of a remote server's accounts.dat that a window or the command line
// edits with the same code as a local file, and the changes it then sends.
//
// A snapshot (the "tables" object of the channel's "snapshot" answer) is
// {TABLE: {"columns": [NAME, ...], "rows": [[ROWID, VALUE, ...], ...]}} for
// the administered tables: users, anonymous, settings, IPok, IPko,
// virtualdirs, options, actions, account_keys, account_limits. Secrets come
// masked (kWriteOnlyMask) and a mask written back means "unchanged".
//
// A change set (the "changes" array of "apply") lists, in an order the
// server can apply one by one (users first), {"table": T, "rowid": R,
// "before": {COLUMN: VALUE, ...} or null, "after": {...} or null}: null
// before for a new row, null after for a deleted one.

#include <QJsonArray>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv::access {

// The administered tables, in the order changes are applied.
const QStringList& mirroredTables();

// Writes the snapshot's rows into `db` (a database with the program's schema),
// replacing every row of the administered tables and keeping the rowids;
// the Italian reason when it cannot.
std::optional<QString> loadSnapshot(QSqlDatabase db, const QJsonObject& tables);

// The changes that turn the snapshot `tables` into what `db` holds now;
// empty when nothing changed.
QJsonArray changesSince(const QSqlDatabase& db, const QJsonObject& tables);

} // namespace kv::access
