#include "access/ConnectedUsers.h"

#include <limits>

namespace kv::access {

void ConnectedUser::setPermissions(const QString& letters) {
    permissions_ = letters.left(kPermissionsLength);
}

void ConnectedUser::setAddress(const QString& address) {
    address_ = address.left(kAddressLength);
}

ConnectedUsers::ConnectedUsers() : records_(1) {}

qint32 ConnectedUsers::Append() {
    if (HighestIndex() == std::numeric_limits<qint32>::max())
        return -1;
    records_.append(ConnectedUser{});
    return HighestIndex();
}

const ConnectedUser* ConnectedUsers::record(qint32 index) const {
    if (index < 0 || index > HighestIndex())
        return nullptr;
    return &records_.at(index);
}

ConnectedUser* ConnectedUsers::record(qint32 index) {
    if (index < 0 || index > HighestIndex())
        return nullptr;
    return &records_[index];
}

QString ConnectedUsers::AddressOf(qint32 index) const {
    const ConnectedUser* user = record(index);
    if (!user)
        return {};
    QString address = user->Address();
    address.remove(QChar(u'\0'));
    return address;
}

qint32 ConnectionIndex(const engine::ConnectionObject& connection) {
    const QString text = connection.Tag().toString();
    qsizetype pos = 0;
    while (pos < text.size() && text.at(pos) == u' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text.at(pos) == u'-' || text.at(pos) == u'+')) {
        negative = text.at(pos) == u'-';
        ++pos;
    }
    qint64 value = 0;
    for (; pos < text.size() && text.at(pos).isDigit() && text.at(pos).unicode() < 128; ++pos) {
        value = value * 10 + (text.at(pos).unicode() - u'0');
        // A number that does not fit the index names no record at all.
        if (value > std::numeric_limits<qint32>::max())
            return 0;
    }
    return static_cast<qint32>(negative ? -value : value);
}

bool HasPermission(const ConnectedUsers& users, const engine::ConnectionObject& connection,
                   const QString& word) {
    if (word.isEmpty())
        return false;
    const ConnectedUser* user = users.record(ConnectionIndex(connection));
    if (!user)
        return false;
    return user->Permissions().contains(word.left(1).toUpper(), Qt::CaseSensitive);
}

QString ConnectionKey(const engine::ConnectionObject& connection) {
    return QStringLiteral("k") + connection.RemoteHost() + QLatin1Char('_') +
           connection.UserName() + QLatin1Char('_') + connection.Password();
}

} // namespace kv::access
