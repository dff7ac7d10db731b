#pragma once
// The start log's warnings while the whole disk is shared: through the
// default root (empty, as in an older database, or "/"), an account whose
// root is "/" or the enabled anonymous account whose root is "/". Each names
// the command (and the panel) that shares one folder instead.

#include <QSqlDatabase>
#include <QStringList>

namespace kv {

// One line for the default root `defaultRoot` as the start uses it, then one
// per account in `accounts` (accounts.dat) by login, then the anonymous one.
// An account without a root of its own shares the default root: it is named
// by that line. A table that cannot be read gives no line.
QStringList wholeDiskWarnings(const QString& defaultRoot, const QSqlDatabase& accounts);

} // namespace kv
