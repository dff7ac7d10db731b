#pragma once
// One change to accounts.dat that is written whole or not at all, shared by
// the options table and the command line's account, list and settings edits.

#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <optional>

namespace kv::access {

// Runs `work` between BEGIN IMMEDIATE and COMMIT. The immediate start takes
// the write lock before anything is read, so two programs changing the file
// at once run one after the other (the driver waits for the lock) instead of
// one failing halfway. `work` returns its own error text; any error rolls
// everything back and comes back in Italian.
std::optional<QString> inWriteTransaction(QSqlDatabase& db,
                                          const std::function<std::optional<QString>()>& work);

} // namespace kv::access
