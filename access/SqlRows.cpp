#include "access/SqlRows.h"

#include "access/WriteTransaction.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace kv::access {

std::optional<QString> writeAll(QSqlDatabase db, const QList<SqlStatement>& statements) {
    return inWriteTransaction(db, [&]() -> std::optional<QString> {
        for (const auto& [sql, params] : statements) {
            QSqlQuery q(db);
            q.prepare(sql);
            for (const QVariant& p : params)
                q.addBindValue(p);
            if (!q.exec())
                return QStringLiteral("Modifica non salvata: %1").arg(q.lastError().text());
        }
        return std::nullopt;
    });
}

QList<QVariantList> readRows(const QSqlDatabase& db, const QString& select,
                             const QVariantList& params) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(select);
    for (const QVariant& p : params)
        q.addBindValue(p);
    QList<QVariantList> rows;
    if (!q.exec())
        return rows;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        rows << row;
    }
    return rows;
}

QVariant readValue(const QSqlDatabase& db, const QString& select, const QVariantList& params) {
    const QList<QVariantList> rows = readRows(db, select, params);
    return rows.isEmpty() || rows.first().isEmpty() ? QVariant() : rows.first().first();
}

} // namespace kv::access
