#pragma once
// The remote administration password in accounts.dat: one row of the table
// admin_password (its yescrypt hash and when it changed), made when the
// first password is stored, so an older file stays as it was until then.

#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace kv::access {

// The stored hash; nullopt when none was ever set (or the table is missing).
std::optional<QString> adminPasswordHash(QSqlDatabase db);

// Stores a new hash of `password` (not empty); the Italian reason on failure.
std::optional<QString> setAdminPassword(QSqlDatabase db, const QString& password);

} // namespace kv::access
