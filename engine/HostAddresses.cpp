#include "engine/HostAddresses.h"

#include <QNetworkInterface>

namespace kv::engine {

QHostAddress plainAddress(const QHostAddress& address) {
    // Only the mapped form: Qt would also turn "::" into 0.0.0.0.
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    const Q_IPV6ADDR a = address.toIPv6Address();
    for (int i = 0; i < 10; ++i)
        if (a[i] != 0)
            return address;
    if (a[10] != 0xff || a[11] != 0xff)
        return address;
    return QHostAddress(quint32(a[12]) << 24 | quint32(a[13]) << 16 | quint32(a[14]) << 8 | a[15]);
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
