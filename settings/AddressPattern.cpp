// Reading list entries as address patterns and matching client addresses.
// The IPv4 reader is strict (four decimal parts 0-255, no leading zeros) so
// that "010.1.1.1" or "1.2.3" is refused rather than read the way some other
// program would read it.

#include "settings/AddressPattern.h"

#include <QAbstractSocket>
#include <QList>
#include <algorithm>
#include <array>

namespace kv::settings {

namespace {

using Bytes = std::array<quint8, 16>;

std::optional<quint32> ipv4Part(QStringView part) {
    if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
        return std::nullopt;
    quint32 value = 0;
    for (const QChar ch : part) {
        if (ch < u'0' || ch > u'9')
            return std::nullopt;
        value = value * 10 + quint32(ch.unicode() - u'0');
    }
    return value <= 255 ? std::optional<quint32>(value) : std::nullopt;
}

std::optional<QHostAddress> parseIPv4(QStringView text) {
    const QList<QStringView> parts = text.split(u'.');
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QStringView part : parts) {
        const std::optional<quint32> value = ipv4Part(part);
        if (!value)
            return std::nullopt;
        address = (address << 8) | *value;
    }
    return QHostAddress(address);
}

std::optional<QHostAddress> parseIPv6(QStringView text) {
    // A scope ("%eth0") names an interface, not addresses a list can hold.
    if (!text.contains(u':') || text.contains(u'%'))
        return std::nullopt;
    QHostAddress address;
    if (!address.setAddress(text.toString()) || address.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    return address;
}

std::optional<QHostAddress> parseAddress(QStringView text) {
    return text.contains(u':') ? parseIPv6(text) : parseIPv4(text);
}

std::optional<int> parsePrefix(QStringView text, int maximum) {
    if (text.isEmpty() || text.size() > 3 || (text.size() > 1 && text.front() == u'0'))
        return std::nullopt;
    int value = 0;
    for (const QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            return std::nullopt;
        value = value * 10 + (ch.unicode() - u'0');
    }
    return value <= maximum ? std::optional<int>(value) : std::nullopt;
}

bool isIPv4(const QHostAddress& a) {
    return a.protocol() == QAbstractSocket::IPv4Protocol;
}

Bytes bytesOf(const QHostAddress& a) {
    Bytes bytes{};
    if (isIPv4(a)) {
        const quint32 v4 = a.toIPv4Address();
        for (int i = 0; i < 4; ++i)
            bytes[12 + i] = quint8(v4 >> (24 - 8 * i));
    } else {
        const Q_IPV6ADDR v6 = a.toIPv6Address();
        std::copy(std::begin(v6.c), std::end(v6.c), bytes.begin());
    }
    return bytes;
}

bool isMappedIPv4(const Bytes& b) {
    return std::all_of(b.begin(), b.begin() + 10, [](quint8 x) { return x == 0; }) &&
           b[10] == 0xff && b[11] == 0xff;
}

// The client's address in the family of the pattern: an IPv4-mapped IPv6
// address as plain IPv4 and the other way round; nullopt when it has none.
std::optional<QHostAddress> inFamily(const QHostAddress& client, bool wantIPv4) {
    if (isIPv4(client) == wantIPv4)
        return client;
    if (client.protocol() != QAbstractSocket::IPv4Protocol &&
        client.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    Bytes b = bytesOf(client);
    if (wantIPv4) {
        if (!isMappedIPv4(b))
            return std::nullopt;
        return QHostAddress(quint32(b[12]) << 24 | quint32(b[13]) << 16 | quint32(b[14]) << 8 |
                            quint32(b[15]));
    }
    b[10] = b[11] = 0xff;
    Q_IPV6ADDR v6;
    std::copy(b.begin(), b.end(), std::begin(v6.c));
    return QHostAddress(v6);
}

} // namespace

std::optional<AddressPattern> AddressPattern::parse(const QString& entry) {
    const QStringView text = QStringView(entry).trimmed();
    AddressPattern p;

    if (const qsizetype slash = text.indexOf(u'/'); slash >= 0) {
        const std::optional<QHostAddress> network = parseAddress(text.left(slash));
        if (!network)
            return std::nullopt;
        const std::optional<int> prefix =
            parsePrefix(text.mid(slash + 1), isIPv4(*network) ? 32 : 128);
        if (!prefix)
            return std::nullopt;
        p.kind_ = Kind::Subnet;
        p.first_ = *network;
        p.prefix_ = *prefix;
        return p;
    }

    if (const qsizetype dash = text.indexOf(u'-'); dash >= 0) {
        const std::optional<QHostAddress> first = parseAddress(text.left(dash).trimmed());
        const std::optional<QHostAddress> last = parseAddress(text.mid(dash + 1).trimmed());
        if (!first || !last || isIPv4(*first) != isIPv4(*last) || bytesOf(*last) < bytesOf(*first))
            return std::nullopt;
        p.kind_ = Kind::Range;
        p.first_ = *first;
        p.last_ = *last;
        return p;
    }

    if (text.contains(u'*')) {
        // "a.b.c.*", "a.b.*.*", "a.*.*.*", "*.*.*.*": stars only after the numbers.
        const QList<QStringView> parts = text.split(u'.');
        if (parts.size() != 4)
            return std::nullopt;
        quint32 network = 0;
        int known = 0;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (parts[i] == u"*")
                continue;
            const std::optional<quint32> value = ipv4Part(parts[i]);
            if (!value || known != i)
                return std::nullopt;
            network |= *value << (24 - 8 * known);
            ++known;
        }
        p.kind_ = Kind::Wildcard;
        p.first_ = QHostAddress(network);
        p.prefix_ = 8 * known;
        return p;
    }

    const std::optional<QHostAddress> exact = parseAddress(text);
    if (!exact)
        return std::nullopt;
    p.kind_ = Kind::Exact;
    p.first_ = *exact;
    p.prefix_ = isIPv4(*exact) ? 32 : 128;
    return p;
}

bool AddressPattern::matches(const QHostAddress& client) const {
    const std::optional<QHostAddress> c = inFamily(client, isIPv4(first_));
    return c && matchesOne(*c);
}

bool AddressPattern::matches(const QString& client) const {
    QHostAddress address;
    if (!address.setAddress(client.trimmed()))
        return false;
    address.setScopeId(QString());
    return matches(address);
}

bool AddressPattern::matchesOne(const QHostAddress& c) const {
    if (kind_ == Kind::Range) {
        const Bytes b = bytesOf(c);
        return bytesOf(first_) <= b && b <= bytesOf(last_);
    }
    return c.isInSubnet(first_, prefix_);
}

QString invalidEntryMessage(const QString& entry) {
    return QStringLiteral("Voce non valida: \"%1\" non è un indirizzo, un blocco CIDR, un "
                          "intervallo o un indirizzo con *")
        .arg(entry);
}

} // namespace kv::settings
