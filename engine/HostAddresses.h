#pragma once
// Small address helpers shared by the listener, sessions and data channels.

#include <QHostAddress>
#include <QString>

namespace kv::engine {

// IPv4-mapped IPv6 addresses (::ffff:a.b.c.d) become plain IPv4.
QHostAddress plainAddress(const QHostAddress& address);
// Text form without a scope id; IPv4 clients in dotted form.
QString addressText(const QHostAddress& address);
bool sameHost(const QHostAddress& a, const QHostAddress& b);
// First non-loopback IPv4 address of an interface that is up, or "".
QString primaryIPv4Address();
// True when `address` belongs to this machine (loopback range included).
bool isLocalAddress(const QHostAddress& address);

} // namespace kv::engine
