#include "net/HostAddresses.h"

#include <QNetworkInterface>

namespace kv::net {

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

QString mainAddress() {
    const QString primary = primaryIPv4Address();
    return primary.isEmpty() ? QStringLiteral("127.0.0.1") : primary;
}

std::optional<QHostAddress> listeningAddress(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t == u"0.0.0.0")
        return QHostAddress(QHostAddress::AnyIPv4);
    // Any, not AnyIPv6: Qt then clears IPV6_V6ONLY.
    if (t == u"::")
        return QHostAddress(QHostAddress::Any);
    if (t.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::LocalHost);
    QHostAddress address;
    if (!address.setAddress(t) || !isLocalAddress(address))
        return std::nullopt;
    return address;
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

} // namespace kv::net
