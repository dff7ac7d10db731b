#pragma once
// A change set made on a copy of accounts.dat (access/MirrorDatabase.h)
// applied to the file itself, change by change in the order given, inside
// the caller's write transaction: each row must still be as the copy saw it
// ("before"), or already as it wants it ("after", e.g. made by a trigger of
// an earlier change), and is judged by the panels' checks (RowChecks).

#include "adminchannel/RowChecks.h"

#include <QJsonArray>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace kv {

// Said when a row is no longer what the client saw.
QString changedMeanwhileMessage();

// Applies `changes` to `db`; the Italian reason when one is refused (the
// caller then rolls everything back).
std::optional<QString> applyChangeSet(QSqlDatabase& db, const QJsonArray& changes,
                                      const ChangeRules& rules);

} // namespace kv
