#pragma once
// The address the server listens on when the settings say "Default".

#include "engine/FtpEngine.h"

#include <QString>

namespace kv::admin {

// This machine's first IPv4 address of an interface that is up (loopback
// left out); when there is none, the main engine's LocalAddress; else "".
QString DefaultLocalIP(const engine::FtpEngine* mainEngine);

} // namespace kv::admin
