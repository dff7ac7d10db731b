#pragma once
// An account's limits on the command line: the options of `user add|set`
// and `anonymous on|off|set` (--rate-up KIB ... --expires YYYY-MM-DD|never,
// named by access/AccountLimitFields.h), and how `user list` and `anonymous
// show` print them.

#include "access/AccountLimitFields.h"
#include "program/CliArguments.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSet>

namespace kv::cli {

// The option names (without "--") of every limit field.
QSet<QString> limitOptionNames();

// The limits given by `args`, or the first value refused, with the reason
// every front end gives.
struct ReadLimits {
    access::LimitChanges changes;
    QString error;
};
ReadLimits readLimitOptions(const CliArguments& args);

// For people: "ricezione 100 KiB/s, quota 5G, ..." ("" without limits), and
// the expiry date, with "(scaduto)" once it has passed at `now`.
QString limitsSummary(const files::AccountLimits& limits);
QString expiryCell(const files::AccountLimits& limits, const QDateTime& now);
// For scripts: one member per field, by its column name (numbers; expires
// as "YYYY-MM-DD" or null), and "expired".
void addLimitsJson(QJsonObject& object, const files::AccountLimits& limits, const QDateTime& now);

} // namespace kv::cli
