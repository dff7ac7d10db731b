#pragma once
// The panels' own judgement of one row a remote or local client changed in
// accounts.dat through "apply" (adminchannel/DataOperations): the same
// checks and Italian messages as the account, virtual folder, address list,
// settings, keys, limits and action editors, plus the limits of a remote
// administrator.

#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace kv {

struct ChangeRules {
    bool wholeDisk = false;     // the operator chose the whole disk by name
    bool remote = false;        // from a remote (TLS) administrator
    bool remoteActions = false; // admin_remote_actions as the server holds it
};

// "Le regole che avviano un programma ..." (refused to a remote administrator).
QString remoteProgramRuleRefusal();

// Why the row `after` (`current`: the row as it is, none for a new one) may
// not be stored at `rowid` of `table`; `db` holds the rows written so far.
// Values a check normalizes (a trimmed entry, a catalog's normal form) are
// written back into `after`.
std::optional<QString> rowProblem(const QSqlDatabase& db, const QString& table, qint64 rowid,
                                  const std::optional<QJsonObject>& current, QJsonObject& after,
                                  const ChangeRules& rules);

// Why deleting the row `current` of `table` is refused (only what a remote
// administrator may not touch).
std::optional<QString> deleteProblem(const QString& table, const QJsonObject& current,
                                     const ChangeRules& rules);

} // namespace kv
