// The remote administration password's row.
#include "access/AdminPassword.h"

#include "access/PasswordHash.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

namespace kv::access {

std::optional<QString> adminPasswordHash(QSqlDatabase db) {
    if (!db.tables().contains(QStringLiteral("admin_password")))
        return std::nullopt;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT hash FROM admin_password WHERE id = 1")) || !q.next())
        return std::nullopt;
    const QString hash = q.value(0).toString();
    return hash.isEmpty() ? std::nullopt : std::optional<QString>(hash);
}

std::optional<QString> setAdminPassword(QSqlDatabase db, const QString& password) {
    if (password.isEmpty())
        return QStringLiteral("La password di amministrazione non può essere vuota");
    const std::optional<QString> hash = hashPassword(password);
    if (!hash)
        return QStringLiteral("Impossibile calcolare l'hash della password");
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS admin_password (id INTEGER PRIMARY "
                               "KEY CHECK (id = 1), hash TEXT NOT NULL, changed TEXT NOT NULL)")))
        return QStringLiteral("Impossibile salvare la password: %1").arg(q.lastError().text());
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO admin_password (id, hash, changed) "
                             "VALUES (1, ?, ?)"));
    q.addBindValue(*hash);
    q.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    if (!q.exec())
        return QStringLiteral("Impossibile salvare la password: %1").arg(q.lastError().text());
    return std::nullopt;
}

} // namespace kv::access
