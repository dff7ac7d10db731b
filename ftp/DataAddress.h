#pragma once
// The arguments of PORT, EPRT and EPSV read into values. Pure: no sockets and
// no replies, so every byte sequence a client can send is fuzzed here.

#include <QHostAddress>
#include <QStringView>

namespace kv::ftp {

enum class DataAddressError {
    None,
    Syntax,   // not the command's shape, a byte or port out of range, port 0
    Protocol, // EPRT with a protocol number other than 1 (IPv4) or 2 (IPv6)
};

struct DataAddress {
    DataAddressError error = DataAddressError::None;
    QHostAddress host;
    quint16 port = 0;
    bool ok() const { return error == DataAddressError::None; }
};

// "h1,h2,h3,h4,p1,p2": six decimal bytes.
DataAddress parsePortArgument(QStringView arg);
// "|proto|address|port|" with any delimiter (the argument's first character).
DataAddress parseEprtArgument(QStringView arg);

// Where an active data connection goes: the address PORT/EPRT named, or
// the client's own when it named the unspecified address (`::` or
// `0.0.0.0`; lftp sends "|2|::|port|" on IPv6, as vsftpd allows).
QHostAddress activeTarget(const DataAddress& named, const QHostAddress& client);

enum class EpsvRequest {
    Listen,        // no argument, or the protocol the client reached us on
    All,           // "ALL": the client will only use EPSV from now on
    WrongProtocol, // any other argument
};
EpsvRequest parseEpsvArgument(QStringView arg, bool reachedOverIPv4);

} // namespace kv::ftp
