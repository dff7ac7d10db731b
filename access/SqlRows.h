#pragma once
// Plain reads and all-or-nothing writes of accounts.dat rows, for the
// account and settings services.

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <optional>
#include <utility>

namespace kv::access {

// One statement with its '?' parameters.
using SqlStatement = std::pair<QString, QVariantList>;

// Runs `statements` in one transaction, waiting for a file another process
// holds as the connection's busy wait allows; nothing is written when one
// fails, and the Italian reason ("Modifica non salvata: ...") comes back.
std::optional<QString> writeAll(QSqlDatabase db, const QList<SqlStatement>& statements);

// Every row of `select`, each as its list of column values; none when the
// statement fails (a table missing, a locked file).
QList<QVariantList> readRows(const QSqlDatabase& db, const QString& select,
                             const QVariantList& params = {});

// The first column of the first row, or an invalid value without one.
QVariant readValue(const QSqlDatabase& db, const QString& select, const QVariantList& params = {});

} // namespace kv::access
