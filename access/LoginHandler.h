#pragma once
// Deciding a login: the connection gets a record in the connected-user table
// (the account's permission letters and the client's address), then the
// decision is made from the named accounts, the anonymous account and the two
// address lists, and the connection receives the account's root folder and
// virtual folders. Every lookup runs on a clone of the views, so it sees
// committed rows only and never moves the row the operator is editing; every
// lookup value is bound as a parameter and compared whole.

#include "access/ConnectedUsers.h"
#include "access/ListSwitches.h"
#include "app/engine/FtpEngine.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <memory>

namespace kv::access {

class AccountViews;
class DataView;

// The account number of the anonymous account, and of no account at all.
inline constexpr qint32 kAnonymousAccountID = 0;
inline constexpr qint32 kNoAccountID = -2;

class LoginHandler {
public:
    using AddressResolver = std::function<QString(const QString& host)>;
    using DefaultRoot = std::function<QString()>;

    // `views` gives Data1 (users), Data3 (anonymous), DataIP(0) (IPok) and
    // DataIP(1) (IPko); `database` is where the virtual folders are read.
    // `resolve` turns the engine's host text into the address the lists hold
    // (ResolveHostAddress when not given). `defaultRoot` gives the root the
    // engine hands every new connection (its ServerRootDir).
    LoginHandler(AccountViews& views, QSqlDatabase database, ConnectedUsers& users,
                 const ListSwitches& switches, AddressResolver resolve = {},
                 DefaultRoot defaultRoot = {});

    // The whole answer to the engine's LoginRequest: appends the record, points
    // the Tag at it, decides, and hands over root and virtual folders whatever
    // the decision (the engine refuses a denied login anyway).
    engine::Verdict LoginRequest(engine::ConnectionObject& c);

    // True when the login is to be accepted; reads the client's address from
    // the connection's record.
    bool CheckLogin(const engine::ConnectionObject& c) const;
    // "R", "W", "D", "B", "M" in this order, for the account the name and
    // password select (the enabled flag of a named account is not looked at).
    QString GetUserPermissions(const engine::ConnectionObject& c) const;
    // The account's root folder; "" when it has none or no account applies.
    QString GetUserRoot(const engine::ConnectionObject& c) const;
    // users.ID of the matching account, kAnonymousAccountID for the enabled
    // anonymous account, else kNoAccountID.
    qint32 AccountID(const engine::ConnectionObject& c) const;
    // The virtual folders of an account number, in the order the query gives.
    QList<engine::VirtualDir> VirtualDirsOf(qint32 accountId) const;

private:
    enum class Lookup { Found, NotFound, Failed };

    std::unique_ptr<DataView> namedAccount(const QString& user, const QString& password,
                                           bool enabledOnly) const;
    std::unique_ptr<DataView> enabledAnonymous(const QString& user) const;
    std::unique_ptr<DataView> accountRow(const engine::ConnectionObject& c) const;
    Lookup findAddress(DataView& list, const QString& address) const;

    AccountViews& views_;
    QSqlDatabase database_;
    ConnectedUsers& users_;
    const ListSwitches& switches_;
    AddressResolver resolve_;
    DefaultRoot defaultRoot_;
};

} // namespace kv::access
