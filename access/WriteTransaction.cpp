#include "access/WriteTransaction.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kv::access {

std::optional<QString> inWriteTransaction(QSqlDatabase& db,
                                          const std::function<std::optional<QString>()>& work) {
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return QStringLiteral("accounts.dat non può essere modificato ora: %1")
            .arg(begin.lastError().text());
    std::optional<QString> error = work();
    QSqlQuery end(db);
    if (!error && !end.exec(QStringLiteral("COMMIT")))
        error = QStringLiteral("Modifica non salvata: %1").arg(end.lastError().text());
    if (error)
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return error;
}

} // namespace kv::access
