// Address helpers: the engine's default local address and the dotted IPv4
// form of a client's host text.

#include "access/AddressHelpers.h"

#include <QAbstractSocket>
#include <QStringList>

namespace kv::admin {

QString DefaultLocalIP(const EngineFactory& makeFreshEngine, const engine::FtpEngine* mainEngine) {
    QString address;
    if (makeFreshEngine) {
        // The fresh instance lives only for this read.
        if (const std::unique_ptr<engine::FtpEngine> fresh = makeFreshEngine())
            address = fresh->LocalAddress();
    }
    if (address.isEmpty() && mainEngine)
        address = mainEngine->LocalAddress();
    return address;
}

bool IsNumericAddress(const QString& text) {
    for (const QChar ch : text) {
        if (ch != u'.' && (ch < u'0' || ch > u'9'))
            return false;
    }
    return true;
}

bool SocketsStartup() {
    return true;
}

QString AddressFromBytes(const std::array<quint8, 4>& bytes) {
    QStringList parts;
    for (const quint8 b : bytes)
        parts.append(QString::number(b));
    return parts.join(QLatin1Char('.'));
}

namespace {

std::array<quint8, 4> bytesOf(quint32 ipv4) {
    return {static_cast<quint8>(ipv4 >> 24), static_cast<quint8>(ipv4 >> 16),
            static_cast<quint8>(ipv4 >> 8), static_cast<quint8>(ipv4)};
}

} // namespace

QString ResolveHostAddress(const QString& host, const HostLookup& lookup) {
    if (IsNumericAddress(host))
        return host;
    if (!SocketsStartup())
        return host;

    // An address literal is never sent to the resolver. Only an IPv4 address
    // mapped into IPv6 has a dotted form to compare with the lists.
    if (host.contains(QLatin1Char(':'))) {
        const QHostAddress literal(host);
        if (literal.protocol() == QAbstractSocket::IPv6Protocol &&
            literal.toString().startsWith(QLatin1String("::ffff:"), Qt::CaseInsensitive)) {
            bool isV4 = false;
            const quint32 ipv4 = literal.toIPv4Address(&isV4);
            if (isV4)
                return AddressFromBytes(bytesOf(ipv4));
        }
        return host;
    }

    if (!lookup)
        return host;
    for (const QHostAddress& address : lookup(host)) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return AddressFromBytes(bytesOf(address.toIPv4Address()));
    }
    return host;
}

} // namespace kv::admin
