#include "access/AccountKeys.h"

#include "access/WriteTransaction.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

namespace kv::access {

namespace {

constexpr int kMaxKeysListed = 10'000;

QString failed(const QSqlQuery& q) {
    return QStringLiteral("Modifica non salvata: %1").arg(q.lastError().text());
}

} // namespace

const QStringList& AccountKeys::tableStatements() {
    // The triggers leave the keys alone while another row still has the old
    // login (an older file may hold duplicates); a rename onto a login whose
    // stale keys remain replaces them.
    static const QStringList statements = {
        QStringLiteral("CREATE TABLE account_keys (login TEXT COLLATE NOCASE NOT NULL, key_type "
                       "TEXT NOT NULL, key_base64 TEXT NOT NULL, comment TEXT NOT NULL DEFAULT '', "
                       "fingerprint TEXT NOT NULL, added_at TEXT NOT NULL, PRIMARY KEY (login, "
                       "fingerprint))"),
        QStringLiteral("CREATE TRIGGER account_keys_follow_rename AFTER UPDATE OF login ON users "
                       "WHEN OLD.login IS NOT NEW.login BEGIN UPDATE OR REPLACE account_keys SET "
                       "login = NEW.login WHERE login = OLD.login AND NOT EXISTS (SELECT 1 FROM "
                       "users WHERE login = OLD.login); END"),
        QStringLiteral("CREATE TRIGGER account_keys_follow_delete AFTER DELETE ON users BEGIN "
                       "DELETE FROM account_keys WHERE login = OLD.login AND NOT EXISTS (SELECT 1 "
                       "FROM users WHERE login = OLD.login); END"),
    };
    return statements;
}

std::optional<bool> AccountKeys::tableExists() const {
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral(
            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'account_keys'")) ||
        !q.next())
        return std::nullopt;
    return q.value(0).toInt() > 0;
}

KeyChange AccountKeys::changeKeysOf(const QString& login, const KeyStep& step) {
    KeyChange change;
    QSqlDatabase db = db_;
    const auto error = inWriteTransaction(db, [&]() -> std::optional<QString> {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT login FROM users WHERE login = ?"));
        q.addBindValue(login);
        if (!q.exec())
            return failed(q);
        if (!q.next()) {
            change.result = KeyChange::Result::NoAccount;
            return std::nullopt;
        }
        // Stored as the account spells it, whatever case it was given in.
        const QString owner = q.value(0).toString();
        const std::optional<bool> exists = tableExists();
        if (!exists)
            return QStringLiteral("Modifica non salvata: accounts.dat non è leggibile");
        return step(q, owner, *exists, change.result);
    });
    if (error)
        return {KeyChange::Result::Failed, *error};
    return change;
}

KeyChange AccountKeys::add(const QString& login, const sftp::PublicKey& key, const QDateTime& now) {
    return changeKeysOf(login,
                        [&](QSqlQuery& q, const QString& owner, bool tableThere,
                            KeyChange::Result& result) -> std::optional<QString> {
                            if (!tableThere) {
                                for (const QString& statement : tableStatements()) {
                                    if (!q.exec(statement))
                                        return failed(q);
                                }
                            }
                            q.prepare(QStringLiteral(
                                "INSERT OR IGNORE INTO account_keys (login, key_type, key_base64, "
                                "comment, fingerprint, added_at) VALUES (?, ?, ?, ?, ?, ?)"));
                            for (const QVariant& v :
                                 QVariantList{owner, key.type, key.base64, key.comment,
                                              key.fingerprint, now.toString(Qt::ISODate)})
                                q.addBindValue(v);
                            if (!q.exec())
                                return failed(q);
                            result = q.numRowsAffected() > 0 ? KeyChange::Result::Done
                                                             : KeyChange::Result::Unchanged;
                            return std::nullopt;
                        });
}

KeyChange AccountKeys::remove(const QString& login, const QString& fingerprint) {
    return changeKeysOf(login,
                        [&](QSqlQuery& q, const QString& owner, bool tableThere,
                            KeyChange::Result& result) -> std::optional<QString> {
                            result = KeyChange::Result::Unchanged;
                            if (!tableThere)
                                return std::nullopt;
                            q.prepare(QStringLiteral(
                                "DELETE FROM account_keys WHERE login = ? AND fingerprint = ?"));
                            q.addBindValue(owner);
                            q.addBindValue(fingerprint);
                            if (!q.exec())
                                return failed(q);
                            if (q.numRowsAffected() > 0)
                                result = KeyChange::Result::Done;
                            return std::nullopt;
                        });
}

std::optional<QList<StoredKey>> AccountKeys::list(const QString& login) const {
    const std::optional<bool> exists = tableExists();
    if (!exists)
        return std::nullopt;
    QList<StoredKey> keys;
    if (!*exists)
        return keys;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT key_type, fingerprint, comment, added_at FROM account_keys "
                             "WHERE login = ? ORDER BY added_at, rowid"));
    q.addBindValue(login);
    if (!q.exec())
        return std::nullopt;
    while (keys.size() < kMaxKeysListed && q.next()) {
        QDateTime added = QDateTime::fromString(q.value(3).toString(), Qt::ISODate);
        added.setTimeSpec(Qt::UTC);
        keys.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), added});
    }
    return keys;
}

AccountKeys::Listed AccountKeys::isListed(const QString& login, const QString& fingerprint) const {
    const std::optional<bool> exists = tableExists();
    if (!exists)
        return Listed::Unknown;
    if (!*exists || fingerprint.isEmpty())
        return Listed::No;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT 1 FROM account_keys WHERE login = ? AND fingerprint = ?"));
    q.addBindValue(login);
    q.addBindValue(fingerprint);
    if (!q.exec())
        return Listed::Unknown;
    return q.next() ? Listed::Yes : Listed::No;
}

} // namespace kv::access
