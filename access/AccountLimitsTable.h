#pragma once
// Each account's limits in the table account_limits of accounts.dat, one
// row per account number (users.ID; files::kAnonymousAccountId, 0, for the
// anonymous account). A missing row, or a file without the table, means no
// limits. A new file has the table; an older one gains it with the first
// limit set (opening a file leaves it as it was), together with the trigger
// that deletes an account's row with the account, whoever deletes it. The row also remembers for
// which expiry date the account's expiry was announced, so it is announced once, across restarts.

#include "files/AccountLimits.h"

#include <QDate>
#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv::access {

struct LimitChanges;

class AccountLimitsTable {
public:
    explicit AccountLimitsTable(QSqlDatabase db) : db_(std::move(db)) {}

    // The table and its trigger, as a new file has them, in that order.
    static const QStringList& statements();
    // Makes what is missing of them; a file that has them is not written.
    static std::optional<QString> ensure(QSqlDatabase& db);

    // Every account's limits by number; nullopt when the table cannot be
    // read (empty when the file has no table).
    std::optional<QHash<qint32, files::AccountLimits>> readAll() const;
    // One account's limits (none without a row).
    files::AccountLimits read(qint32 account) const;
    // The same, or nullopt when the table cannot be read (a locked file).
    std::optional<files::AccountLimits> find(qint32 account) const;

    // The statements that apply `changes` to the accounts `accountsSelect`
    // names (an SQL query of account numbers taking `params`), inside a
    // write the caller runs; creating their rows when missing.
    static QList<std::pair<QString, QVariantList>> changeStatements(const LimitChanges& changes,
                                                                    const QString& accountsSelect,
                                                                    const QVariantList& params);

    // The expiry date whose end was announced for `account` (null: none).
    QDate expiryAnnounced(qint32 account) const;
    // Remembers that the end of `expires` was announced for `account`.
    std::optional<QString> rememberExpiryAnnounced(qint32 account, const QDate& expires);

private:
    QSqlDatabase db_;
};

} // namespace kv::access
