#pragma once
// Whether this process may listen on a port: ports below the system's first
// unprivileged port (1024 unless lowered) need CAP_NET_BIND_SERVICE, which
// root and a service unit granting it have.

#include <QString>

namespace kv::settings {

// Reads the first unprivileged port and the effective capabilities from
// `procFolder` (/proc); anything unreadable counts as allowed, so a database
// keeps the usual port 21 where nothing can be told.
bool mayBindPort(quint16 port, const QString& procFolder = QStringLiteral("/proc"));

// The control port a new database starts with: 21, or 2121 for a user who
// could not listen on 21.
QString newDatabasePort(bool mayBind21);

} // namespace kv::settings
