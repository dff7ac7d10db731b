#pragma once
// The quota tallies in accounts.dat (table quota_usage, made with the first
// tally kept; a file without it has tallies still to count), and the folders
// each account's quota counts: its root (the default root when empty) and
// its virtual folders' destinations.

#include "session/QuotaKeeper.h"

#include <QJsonObject>
#include <QSqlDatabase>

#include <functional>

namespace kv::access {

// One account's quota as `quota show` tells it.
struct QuotaRow {
    qint32 account = 0;
    QString login;
    session::QuotaTally used;
    bool counted = false; // the tally was counted (else still to count)
    files::AccountLimits limits;
    QJsonObject toJson() const;
};

class QuotaTable : public session::QuotaStore {
public:
    using DefaultRoot = std::function<QString()>;
    QuotaTable(QSqlDatabase db, DefaultRoot defaultRoot);

    // Every account (the anonymous one as 0), with its kept tally when there is one.
    QHash<qint32, Stored> loadTallies() override;
    void saveTallies(const QHash<qint32, session::QuotaTally>& tallies, bool current) override;
    QStringList foldersOf(qint32 accountId) override;
    QString loginOf(qint32 accountId) override;
    // The account number of a login (0 for "anonymous"); nullopt when none has it.
    std::optional<qint32> accountOf(const QString& login);
    // Every account (anonymous first, then by login), or the one named
    // `login`, with its kept tally; the limits are left for the caller.
    QList<QuotaRow> rows(const QString& login = {});
    // Counts the account's folders from the disk now and keeps the tally.
    session::QuotaTally scanNow(qint32 accountId);
    // Accounts whose folders are the same disk folder or lie one inside
    // another's, as lists of logins (the tallies of both count those files).
    QList<QStringList> overlaps();
    // Why the last save failed, in Italian; empty after a success.
    const QString& problem() const { return problem_; }

private:
    QSqlDatabase db_;
    DefaultRoot defaultRoot_;
    QString problem_;
};

} // namespace kv::access
