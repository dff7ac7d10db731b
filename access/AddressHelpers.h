#pragma once
// Address helpers: the engine's default local address, and turning the host
// text the engine reports for a client into the dotted IPv4 form that the
// address lists hold.

#include "engine/FtpEngine.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <memory>

namespace kv::admin {

using EngineFactory = std::function<std::unique_ptr<engine::FtpEngine>()>;

// The LocalAddress of a fresh, never-configured engine instance (made by
// `makeFreshEngine` and released before returning); when that is empty or
// cannot be had, the main engine's LocalAddress; else "".
QString DefaultLocalIP(const EngineFactory& makeFreshEngine, const engine::FtpEngine* mainEngine);

// True when every character is one of ".0123456789" (so "" is numeric too).
bool IsNumericAddress(const QString& text);

// The name resolver needs no start-up here; kept so callers read as before.
bool SocketsStartup();

// The four byte values in decimal joined by ".".
QString AddressFromBytes(const std::array<quint8, 4>& bytes);

// Addresses of a host name, in the resolver's order; empty when it fails.
using HostLookup = std::function<QList<QHostAddress>(const QString& name)>;

// A numeric text comes back unchanged without a lookup; an IPv4 address
// mapped into IPv6 ("::ffff:1.2.3.4") comes back in its dotted IPv4 form; any
// other IPv6 literal comes back unchanged without a lookup. A host name is
// looked up and replaced by its first IPv4 address; when the lookup fails or
// gives no IPv4 address the text comes back unchanged. The lookup must not
// wait: the login handler answers it from a HostNameCache.
QString ResolveHostAddress(const QString& host, const HostLookup& lookup);

} // namespace kv::admin
