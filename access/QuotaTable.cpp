#include "access/QuotaTable.h"

#include "access/WriteTransaction.h"
#include "files/LoginGrant.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kv::access {

namespace {

const QStringList& tableStatements() {
    // The tally of a deleted account goes with it, whoever deletes it.
    static const QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS quota_usage (account INTEGER PRIMARY KEY, "
                       "bytes INTEGER NOT NULL, files INTEGER NOT NULL, current INTEGER NOT NULL)"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS quota_usage_follow_delete AFTER DELETE ON "
                       "users BEGIN DELETE FROM quota_usage WHERE account = OLD.ID; END"),
    };
    return statements;
}

} // namespace

QuotaTable::QuotaTable(QSqlDatabase db, DefaultRoot defaultRoot)
    : db_(std::move(db)), defaultRoot_(std::move(defaultRoot)) {}

QHash<qint32, session::QuotaStore::Stored> QuotaTable::loadTallies() {
    QHash<qint32, Stored> result;
    result.insert(files::kAnonymousAccountId, {});
    QSqlQuery q(db_);
    if (q.exec(QStringLiteral("SELECT ID FROM users")))
        while (q.next())
            result.insert(q.value(0).toInt(), {});
    // A file without the table has nothing counted yet.
    if (!q.exec(QStringLiteral("SELECT account, bytes, files, current FROM quota_usage")))
        return result;
    while (q.next()) {
        const qint32 id = q.value(0).toInt();
        if (!result.contains(id))
            continue;
        result[id] = {{q.value(1).toLongLong(), q.value(2).toLongLong()}, q.value(3).toBool()};
    }
    return result;
}

void QuotaTable::saveTallies(const QHash<qint32, session::QuotaTally>& tallies, bool current) {
    const auto error = inWriteTransaction(db_, [&]() -> std::optional<QString> {
        QSqlQuery q(db_);
        for (const QString& statement : tableStatements())
            if (!q.exec(statement))
                return q.lastError().text();
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO quota_usage (account, bytes, files, "
                                 "current) VALUES (?, ?, ?, ?)"));
        for (auto it = tallies.begin(); it != tallies.end(); ++it) {
            q.addBindValue(it.key());
            q.addBindValue(it->bytes);
            q.addBindValue(it->files);
            q.addBindValue(current ? 1 : 0);
            if (!q.exec())
                return q.lastError().text();
        }
        // Tallies the keeper did not hold keep their values, never their claim
        // to be current while a server may change what they count.
        if (!current && !q.exec(QStringLiteral("UPDATE quota_usage SET current = 0")))
            return q.lastError().text();
        return std::nullopt;
    });
    problem_ = error.value_or(QString());
}

QStringList QuotaTable::foldersOf(qint32 accountId) {
    QStringList folders;
    QSqlQuery q(db_);
    if (accountId == files::kAnonymousAccountId) {
        q.exec(QStringLiteral("SELECT rootdir FROM anonymous"));
    } else {
        q.prepare(QStringLiteral("SELECT rootdir FROM users WHERE ID = ?"));
        q.addBindValue(accountId);
        q.exec();
    }
    if (!q.next())
        return folders;
    QString root = q.value(0).toString();
    if (root.isEmpty() && defaultRoot_)
        root = defaultRoot_();
    folders << root;
    q.prepare(QStringLiteral("SELECT destination FROM virtualdirs WHERE user = ?"));
    q.addBindValue(accountId);
    if (q.exec())
        while (q.next())
            folders << q.value(0).toString();
    return folders;
}

QString QuotaTable::loginOf(qint32 accountId) {
    if (accountId == files::kAnonymousAccountId)
        return QStringLiteral("anonymous");
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT login FROM users WHERE ID = ?"));
    q.addBindValue(accountId);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

std::optional<qint32> QuotaTable::accountOf(const QString& login) {
    if (login.compare(QStringLiteral("anonymous"), Qt::CaseInsensitive) == 0)
        return files::kAnonymousAccountId;
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT ID FROM users WHERE login = ?"));
    q.addBindValue(login);
    if (q.exec() && q.next())
        return q.value(0).toInt();
    return std::nullopt;
}

} // namespace kv::access
