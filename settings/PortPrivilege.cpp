#include "settings/PortPrivilege.h"

#include <QFile>
#include <QRegularExpression>

namespace kv::settings {

namespace {

constexpr int kNetBindServiceBit = 10; // CAP_NET_BIND_SERVICE

QString readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll());
}

} // namespace

bool mayBindPort(quint16 port, const QString& procFolder) {
    bool ok = false;
    const int firstFree =
        readAll(procFolder + QStringLiteral("/sys/net/ipv4/ip_unprivileged_port_start"))
            .trimmed()
            .toInt(&ok);
    if (!ok || port >= firstFree)
        return true;
    static const QRegularExpression effective(QStringLiteral("^CapEff:\\s*([0-9a-fA-F]+)$"),
                                              QRegularExpression::MultilineOption);
    const auto match = effective.match(readAll(procFolder + QStringLiteral("/self/status")));
    if (!match.hasMatch())
        return true;
    const quint64 capabilities = match.captured(1).toULongLong(&ok, 16);
    return !ok || (capabilities >> kNetBindServiceBit & 1U) != 0;
}

QString newDatabasePort(bool mayBind21) {
    return mayBind21 ? QStringLiteral("21") : QStringLiteral("2121");
}

} // namespace kv::settings
