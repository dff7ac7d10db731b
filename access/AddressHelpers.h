#pragma once
// The address shown for a server whose settings say "Default".

#include <QString>

namespace kv::admin {

// This machine's first IPv4 address of an interface that is up (loopback
// left out), else 127.0.0.1. "Default" listens on every address; this is
// the one to give clients.
QString DefaultLocalIP();

} // namespace kv::admin
