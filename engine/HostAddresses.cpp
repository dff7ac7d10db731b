#include "engine/HostAddresses.h"

#include <QNetworkInterface>

namespace kv::engine {

QHostAddress plainAddress(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4 && address.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(v4);
    return address;
}

QString addressText(const QHostAddress& address) {
    QHostAddress plain = plainAddress(address);
    plain.setScopeId(QString());
    return plain.toString();
}

bool sameHost(const QHostAddress& a, const QHostAddress& b) {
    return plainAddress(a).isEqual(plainAddress(b), QHostAddress::TolerantConversion);
}

QString primaryIPv4Address() {
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& itf : interfaces) {
        const auto flags = itf.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : itf.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                return ip.toString();
        }
    }
    return QString();
}

bool isLocalAddress(const QHostAddress& address) {
    const QHostAddress plain = plainAddress(address);
    if (plain.isLoopback())
        return true;
    const auto all = QNetworkInterface::allAddresses();
    for (const QHostAddress& mine : all) {
        if (sameHost(mine, plain))
            return true;
    }
    return false;
}

} // namespace kv::engine
