// Reads the data-connection arguments of PORT, EPRT and EPSV.

#include "ftp/DataAddress.h"

#include <QString>

namespace kv::ftp {

namespace {

DataAddress failed(DataAddressError error) {
    DataAddress result;
    result.error = error;
    return result;
}

DataAddress withPort(const QHostAddress& host, uint port) {
    if (port == 0 || port > 65535)
        return failed(DataAddressError::Syntax);
    DataAddress result;
    result.host = host;
    result.port = quint16(port);
    return result;
}

} // namespace

DataAddress parsePortArgument(QStringView arg) {
    const QList<QStringView> parts = arg.trimmed().split(u',');
    if (parts.size() != 6)
        return failed(DataAddressError::Syntax);
    uint bytes[6] = {};
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        bytes[i] = parts[i].trimmed().toUInt(&ok);
        if (!ok || bytes[i] > 255)
            return failed(DataAddressError::Syntax);
    }
    return withPort(QHostAddress((bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3]),
                    bytes[4] * 256 + bytes[5]);
}

DataAddress parseEprtArgument(QStringView arg) {
    const QStringView a = arg.trimmed();
    const QList<QStringView> parts = a.isEmpty() ? QList<QStringView>() : a.split(a.front());
    if (parts.size() != 5 || !parts[0].isEmpty() || !parts[4].isEmpty())
        return failed(DataAddressError::Syntax);
    if (parts[1] != u"1" && parts[1] != u"2")
        return failed(DataAddressError::Protocol);
    QHostAddress host;
    const auto wanted =
        parts[1] == u"1" ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol;
    if (!host.setAddress(parts[2].toString()) || host.protocol() != wanted)
        return failed(DataAddressError::Syntax);
    bool ok = false;
    const uint port = parts[3].toUInt(&ok);
    return ok ? withPort(host, port) : failed(DataAddressError::Syntax);
}

QHostAddress activeTarget(const DataAddress& named, const QHostAddress& client) {
    const QHostAddress& h = named.host;
    const bool unspecified =
        h == QHostAddress(QHostAddress::AnyIPv4) || h == QHostAddress(QHostAddress::AnyIPv6);
    return unspecified ? client : h;
}

EpsvRequest parseEpsvArgument(QStringView arg, bool reachedOverIPv4) {
    const QString option = arg.trimmed().toString().toUpper();
    if (option == u"ALL")
        return EpsvRequest::All;
    if (!option.isEmpty() && option != (reachedOverIPv4 ? u"1" : u"2"))
        return EpsvRequest::WrongProtocol;
    return EpsvRequest::Listen;
}

} // namespace kv::ftp
