#include "access/AccountLimitsTable.h"

#include "access/AccountLimitFields.h"
#include "access/SqlRows.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kv::access {

namespace {

const QString kTable = QStringLiteral("account_limits");
const QString kTrigger = QStringLiteral("account_limits_follow_delete");

QString numberColumns() {
    QStringList names;
    for (const LimitFieldDef& def : limitFields()) {
        if (def.member)
            names << def.column;
    }
    return names.join(QStringLiteral(", "));
}

files::AccountLimits limitsAt(const QVariantList& row, int first) {
    files::AccountLimits limits;
    int i = first;
    for (const LimitFieldDef& def : limitFields()) {
        if (def.member)
            limits.*def.member = qMax<qint64>(0, row.value(i++).toLongLong());
    }
    // A date another program wrote wrongly reads as never.
    limits.expires = QDate::fromString(row.value(i).toString(), Qt::ISODate);
    return limits;
}

std::optional<bool> present(QSqlDatabase& db, const QString& type, const QString& name) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = ? AND name = ?"));
    query.addBindValue(type);
    query.addBindValue(name);
    if (!query.exec())
        return std::nullopt;
    return query.next();
}

} // namespace

const QStringList& AccountLimitsTable::statements() {
    static const QStringList statements = {
        QStringLiteral("CREATE TABLE account_limits (account INTEGER PRIMARY KEY, "
                       "rate_up_kib INTEGER NOT NULL DEFAULT 0, rate_down_kib INTEGER NOT NULL "
                       "DEFAULT 0, session_rate_up_kib INTEGER NOT NULL DEFAULT 0, "
                       "session_rate_down_kib INTEGER NOT NULL DEFAULT 0, quota_bytes INTEGER NOT "
                       "NULL DEFAULT 0, quota_files INTEGER NOT NULL DEFAULT 0, expires TEXT NOT "
                       "NULL DEFAULT '', expiry_announced TEXT NOT NULL DEFAULT '')"),
        // The anonymous account (0) is no users row: only named accounts go.
        QStringLiteral("CREATE TRIGGER account_limits_follow_delete AFTER DELETE "
                       "ON users BEGIN DELETE FROM account_limits WHERE account = OLD.ID AND "
                       "OLD.ID <> 0; END"),
    };
    return statements;
}

std::optional<QString> AccountLimitsTable::ensure(QSqlDatabase& db) {
    const std::optional<bool> table = present(db, QStringLiteral("table"), kTable);
    const std::optional<bool> trigger = present(db, QStringLiteral("trigger"), kTrigger);
    if (!table || !trigger)
        return QStringLiteral("la tabella %1 non è leggibile").arg(kTable);
    if (*table && *trigger)
        return std::nullopt; // nothing to write: the file stays as it is
    QSqlQuery query(db);
    if (!*table && !query.exec(statements().at(0)))
        return query.lastError().text();
    if (!*trigger && !query.exec(statements().at(1)))
        return query.lastError().text();
    return std::nullopt;
}

std::optional<QHash<qint32, files::AccountLimits>> AccountLimitsTable::readAll() const {
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    QHash<qint32, files::AccountLimits> all;
    if (!query.exec(QStringLiteral("SELECT account, %1, expires FROM account_limits")
                        .arg(numberColumns()))) {
        // A file without the table has no limits.
        QSqlDatabase db = db_;
        const std::optional<bool> table = present(db, QStringLiteral("table"), kTable);
        if (table && !*table)
            return all;
        return std::nullopt;
    }
    const int columns = int(limitFields().size()) + 1;
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < columns; ++i)
            row << query.value(i);
        all.insert(row.first().toInt(), limitsAt(row, 1));
    }
    return all;
}

files::AccountLimits AccountLimitsTable::read(qint32 account) const {
    return find(account).value_or(files::AccountLimits());
}

std::optional<files::AccountLimits> AccountLimitsTable::find(qint32 account) const {
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1, expires FROM account_limits WHERE account = ?")
                      .arg(numberColumns()));
    query.addBindValue(account);
    if (!query.exec()) {
        QSqlDatabase db = db_;
        const std::optional<bool> table = present(db, QStringLiteral("table"), kTable);
        if (table && !*table)
            return files::AccountLimits(); // a file without the table: no limits
        return std::nullopt;
    }
    if (!query.next())
        return files::AccountLimits();
    QVariantList row;
    for (int i = 0; i < int(limitFields().size()); ++i)
        row << query.value(i);
    return limitsAt(row, 0);
}

QList<std::pair<QString, QVariantList>>
AccountLimitsTable::changeStatements(const LimitChanges& changes, const QString& accountsSelect,
                                     const QVariantList& params) {
    QStringList assignments;
    QVariantList values;
    for (const LimitFieldDef& def : limitFields()) {
        if (def.member && changes.number(def)) {
            assignments << def.column + QStringLiteral(" = ?");
            values << *changes.number(def);
        }
    }
    if (changes.expires) {
        assignments << QStringLiteral("expires = ?");
        values << QVariant(expiresText(*changes.expires).isNull() ? QString(QLatin1String(""))
                                                                  : expiresText(*changes.expires));
    }
    if (assignments.isEmpty())
        return {};
    return {
        {QStringLiteral("INSERT OR IGNORE INTO account_limits (account) %1").arg(accountsSelect),
         params},
        {QStringLiteral("UPDATE account_limits SET %1 WHERE account IN (%2)")
             .arg(assignments.join(QStringLiteral(", ")), accountsSelect),
         values + params},
    };
}

QDate AccountLimitsTable::expiryAnnounced(qint32 account) const {
    return QDate::fromString(
        readValue(db_,
                  QStringLiteral("SELECT expiry_announced FROM account_limits WHERE account = ?"),
                  {account})
            .toString(),
        Qt::ISODate);
}

std::optional<QString> AccountLimitsTable::rememberExpiryAnnounced(qint32 account,
                                                                   const QDate& expires) {
    return writeAll(db_, {{QStringLiteral("UPDATE account_limits SET expiry_announced = ? WHERE "
                                          "account = ?"),
                           {expiresText(expires), account}}});
}

} // namespace kv::access
