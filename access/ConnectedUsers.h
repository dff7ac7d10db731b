#pragma once
// The table of connected users: one record per login request with what was
// decided at that moment (the account's permission letters and the client's
// address). A connection finds its record through the index stored in its Tag.
// Records are never removed or reused, so an index once handed out names the
// same record for the life of the program; index 0 is the record of every
// connection that has not logged in.

#include "engine/FtpEngine.h"

#include <QList>
#include <QString>

namespace kv::access {

class ConnectedUser {
public:
    static constexpr int kPermissionsLength = 10;
    static constexpr int kAddressLength = 100;

    // Permission letters in the order R, W, D, B, M; empty means no rights.
    const QString& Permissions() const { return permissions_; }
    // Longer texts are cut to the field's length.
    void setPermissions(const QString& letters);

    // The client's address as resolved at login, exactly as stored.
    const QString& Address() const { return address_; }
    void setAddress(const QString& address);

private:
    QString permissions_;
    QString address_;
};

class ConnectedUsers {
public:
    // Starts with record 0, both fields empty.
    ConnectedUsers();

    // Appends an empty record and returns its index (the highest so far + 1),
    // or -1 when the table cannot grow any further.
    qint32 Append();
    qint32 HighestIndex() const { return static_cast<qint32>(records_.size()) - 1; }

    // nullptr for an index outside the table.
    const ConnectedUser* record(qint32 index) const;
    ConnectedUser* record(qint32 index);

    // The record's address with NUL characters removed; "" outside the table.
    QString AddressOf(qint32 index) const;

private:
    QList<ConnectedUser> records_;
};

// The leading whole number of the connection's Tag read as text; 0 when the
// Tag was never set or holds no number (or one beyond 32 bits).
qint32 ConnectionIndex(const engine::ConnectionObject& connection);

// True when the first letter of `word`, in upper case, is among the
// permission letters of the connection's record. False for a connection
// without a record and for an empty word.
bool HasPermission(const ConnectedUsers& users, const engine::ConnectionObject& connection,
                   const QString& word);

// "k" + RemoteHost + "_" + UserName + "_" + Password: the connection's key in
// the online list.
QString ConnectionKey(const engine::ConnectionObject& connection);

} // namespace kv::access
