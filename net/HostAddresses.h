#pragma once
// Small address helpers shared by the listener, sessions and data channels.

#include <QHostAddress>
#include <QString>
#include <optional>

namespace kv::net {

// IPv4-mapped IPv6 addresses (::ffff:a.b.c.d) become plain IPv4.
QHostAddress plainAddress(const QHostAddress& address);
// Text form without a scope id; IPv4 clients in dotted form.
QString addressText(const QHostAddress& address);
bool sameHost(const QHostAddress& a, const QHostAddress& b);
// First non-loopback IPv4 address of an interface that is up, or "".
QString primaryIPv4Address();
// The address this PC is reached at: primaryIPv4Address(), else 127.0.0.1.
QString mainAddress();
// What a listener binds for a stored address: "" and "0.0.0.0" every IPv4
// address; "::" every address, IPv6 and IPv4 together (IPv4 clients arrive
// as mapped addresses; where the system has no IPv6, Qt binds 0.0.0.0);
// "localhost" 127.0.0.1; else the address when it is this machine's.
std::optional<QHostAddress> listeningAddress(const QString& text);
// True when `address` belongs to this machine (loopback range included).
bool isLocalAddress(const QHostAddress& address);

} // namespace kv::net
