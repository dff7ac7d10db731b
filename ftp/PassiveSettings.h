#pragma once
// Where passive data connections are offered: the operator's port range (the
// ports a router forwards to this machine) and the public address named in
// PASV replies to clients outside the local network.

#include <QHostAddress>

namespace kv::ftp {

struct PassiveSettings {
    // Both 0: no range configured, the engine picks among the dynamic ports
    // and leaves the choice to the kernel when they are taken.
    quint16 portFirst = 0;
    quint16 portLast = 0;
    // IPv4; null: a client is told the address it connected to.
    QHostAddress publicAddress;

    bool hasRange() const { return portFirst != 0 && portLast >= portFirst; }
    friend bool operator==(const PassiveSettings&, const PassiveSettings&) = default;
};

} // namespace kv::ftp
