// Passive-mode option checks.
#include "settings/NetworkOptions.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace kv::settings {

namespace {

std::optional<int> portNumber(const QString& text) {
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    return text.toInt();
}

OptionCheck refusedWith(const OptionDef& option, const QString& text, const QString& why) {
    constexpr int kLongest = 60;
    const QString shown =
        text.size() > kLongest ? text.left(kLongest) + QStringLiteral("...") : text;
    return {{}, QStringLiteral("Opzione %1: %2 %3").arg(option.name, shown, why)};
}

// Dotted quads only (inet_aton would also take "10.1" or "0x7f.1").
bool looksDotted(const QString& text) {
    static const QRegularExpression dotted(QStringLiteral("^[0-9]+(\\.[0-9]+){3}$"));
    return dotted.match(text).hasMatch();
}

bool isHostName(const QString& text) {
    static const QRegularExpression label(QStringLiteral("^[a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?$"));
    QString name = text;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty() || name.size() > 253)
        return false;
    const QStringList labels = name.split(QLatin1Char('.'));
    for (const QString& part : labels) {
        if (!label.match(part).hasMatch())
            return false;
    }
    // A last label of digits only reads as a mistyped address, not a name.
    return labels.last().contains(QRegularExpression(QStringLiteral("[a-z]")));
}

} // namespace

OptionCheck checkPortRange(const OptionDef& option, const QString& trimmed) {
    const QStringList ends = trimmed.split(QLatin1Char('-'));
    const std::optional<int> low = ends.size() == 2 ? portNumber(ends[0].trimmed()) : std::nullopt;
    const std::optional<int> high = ends.size() == 2 ? portNumber(ends[1].trimmed()) : std::nullopt;
    if (!low || !high || *low < kLowestPassivePort || *high > 65535)
        return refusedWith(option, trimmed,
                           QStringLiteral("non è un intervallo di porte valido (PRIMA-ULTIMA, "
                                          "porte da %1 a 65535, per esempio 50000-50100)")
                               .arg(kLowestPassivePort));
    if (*low > *high)
        return refusedWith(option, trimmed,
                           QStringLiteral("non è un intervallo valido: la prima porta (%1) è più "
                                          "alta dell'ultima (%2)")
                               .arg(*low)
                               .arg(*high));
    return {QStringLiteral("%1-%2").arg(*low).arg(*high), {}};
}

OptionCheck checkPublicAddress(const OptionDef& option, const QString& trimmed) {
    const QString text = trimmed.toLower();
    QHostAddress address;
    if (looksDotted(text)) {
        if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol)
            return refusedWith(option, trimmed, QStringLiteral("non è un indirizzo IPv4 valido"));
        const quint32 v4 = address.toIPv4Address();
        if (v4 == 0 || v4 == 0xFFFFFFFFu || address.isMulticast())
            return refusedWith(option, trimmed,
                               QStringLiteral("non è un indirizzo a cui i client possano "
                                              "collegarsi"));
        return {address.toString(), {}};
    }
    if (text.contains(QLatin1Char(':')) && address.setAddress(text))
        return refusedWith(option, trimmed,
                           QStringLiteral("è un indirizzo IPv6: le risposte PASV possono "
                                          "contenere solo un indirizzo IPv4 o un nome di host"));
    if (!isHostName(text))
        return refusedWith(option, trimmed,
                           QStringLiteral("non è un indirizzo IPv4 né un nome di host valido"));
    return {text, {}};
}

std::optional<std::pair<quint16, quint16>> portRange(const QString& normal) {
    const QStringList ends = normal.split(QLatin1Char('-'));
    if (ends.size() != 2)
        return std::nullopt;
    const std::optional<int> low = portNumber(ends[0]);
    const std::optional<int> high = portNumber(ends[1]);
    if (!low || !high || *low < kLowestPassivePort || *high > 65535 || *low > *high)
        return std::nullopt;
    return std::pair{quint16(*low), quint16(*high)};
}

bool isIPv4Literal(const QString& normal) {
    QHostAddress address;
    return looksDotted(normal) && address.setAddress(normal) &&
           address.protocol() == QAbstractSocket::IPv4Protocol;
}

} // namespace kv::settings
