#pragma once
// Which program listens on a TCP port, as the kernel shows it in /proc: the
// listening socket's inode from /proc/net/tcp and tcp6, then the process
// holding a descriptor on that inode.

#include <QString>

namespace kv::acme {

// "nginx (PID 812)" for the process listening on TCP `port`; empty when no
// listener is found or its process may not be seen (another user's
// processes, a hidden /proc).
QString portHolder(quint16 port);

} // namespace kv::acme
