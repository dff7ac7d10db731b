// The local-network decision for passive replies and the speed limits.
#include "net/ClientLocality.h"

#include "net/HostAddresses.h"

#include <QNetworkInterface>

namespace kv::net {

namespace {

const QList<Subnet>& localRanges() {
    static const QList<Subnet> ranges = [] {
        QList<Subnet> list;
        for (const char* text :
             {"127.0.0.0/8", "169.254.0.0/16", "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16",
              "100.64.0.0/10", "::1/128", "fe80::/10", "fc00::/7"})
            list.append(QHostAddress::parseSubnet(QString::fromLatin1(text)));
        return list;
    }();
    return ranges;
}

} // namespace

bool isLocalClient(const QHostAddress& client, const QList<Subnet>& ownSubnets) {
    QHostAddress plain = net::plainAddress(client);
    plain.setScopeId(QString());
    if (plain.isNull())
        return true; // nothing to judge: never hand out the public address blindly
    for (const QList<Subnet>* list : {&localRanges(), &ownSubnets}) {
        for (const auto& [network, prefix] : *list) {
            if (network.protocol() == plain.protocol() && plain.isInSubnet(network, prefix))
                return true;
        }
    }
    return false;
}

QList<Subnet> machineSubnets() {
    QList<Subnet> subnets;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& itf : interfaces) {
        if (!(itf.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& entry : itf.addressEntries()) {
            QHostAddress ip = entry.ip();
            ip.setScopeId(QString());
            if (!ip.isNull() && entry.prefixLength() > 0) // a /0 would make every client local
                subnets.append({ip, entry.prefixLength()});
        }
    }
    return subnets;
}

} // namespace kv::net
