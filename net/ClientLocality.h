#pragma once
// Whether a client is on the local network, which decides the address a
// PASV reply names (a client behind the same router must get the address it
// connected to, a client from outside the public address of the router) and,
// for every protocol, whether the speed limits spare it.
// Pure, so the decision is tested with any address and any interface list.

#include <QHostAddress>
#include <QList>
#include <utility>

namespace kv::net {

using Subnet = std::pair<QHostAddress, int>; // network address, prefix length

// True for loopback, link-local, the private ranges (10/8, 172.16/12,
// 192.168/16), the carrier-grade range 100.64/10, unique-local IPv6
// (fc00::/7) and any address inside one of `ownSubnets`. An IPv4 client seen
// as ::ffff:a.b.c.d is judged as a.b.c.d.
bool isLocalClient(const QHostAddress& client, const QList<Subnet>& ownSubnets);

// The subnets of this machine's interfaces that are up.
QList<Subnet> machineSubnets();

} // namespace kv::net
