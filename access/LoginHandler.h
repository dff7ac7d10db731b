#pragma once
// Deciding a login: the connection gets a record in the connected-user table
// (the account's permission letters and the client's address), then the
// decision is made from the named accounts, the anonymous account and the two
// address lists, and the connection receives the account's root folder and
// virtual folders.
//
// Every lookup is a small read-only query on the database file: it sees
// committed rows only, never moves a row the operator is editing, binds every
// value as a parameter (so quotes, % and _ are compared whole), and reads only
// the rows it needs, so a login costs the same however many accounts exist.
// A stored password may be a crypt(3) hash (see PasswordHash.h); list entries
// are address patterns (see AddressPattern.h), and an entry that is none
// matches nothing.
// A read that fails (accounts.dat locked by another program past the
// connection's short busy wait, a table gone) refuses the login at once
// without further reads; the client may try again.

#include "access/ConnectedUsers.h"
#include "access/ListSwitches.h"
#include "engine/FtpEngine.h"

#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace kv::access {

class DataView;
class HostNameCache;
class PasswordChecker;

// The log line naming an entry of list `table` ("IPok" or "IPko") that is no
// address pattern and so matches nothing.
QString invalidListEntryLine(const QString& table, const QString& entry);

// The account number of the anonymous account, and of no account at all.
inline constexpr qint32 kAnonymousAccountID = 0;
inline constexpr qint32 kNoAccountID = -2;

class LoginHandler {
public:
    // The address the lists hold for the engine's host text; nullopt while a
    // host name's lookup has not answered (the record keeps the text as given,
    // and the login is refused when a list is on, as when a list cannot be read).
    using AddressResolver = std::function<std::optional<QString>(const QString& host)>;
    using DefaultRoot = std::function<QString()>;

    // `database` holds the accounts (accounts.dat). `resolve` turns the
    // engine's host text into the address the lists hold (when not given:
    // ResolveHostAddress answered from a HostNameCache, never waiting). `defaultRoot` gives the
    // root the engine hands every new connection (its ServerRootDir).
    LoginHandler(QSqlDatabase database, ConnectedUsers& users, const ListSwitches& switches,
                 AddressResolver resolve = {}, DefaultRoot defaultRoot = {});
    ~LoginHandler();

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
    // Log lines naming the list entries that match nothing, for the activity
    // log when the server starts. Each entry is named once for the life of
    // the handler; a login that meets one first names it in the warning log.
    QStringList InvalidListEntries() const;

private:
    enum class Lookup { Found, NotFound, Failed };
    struct Accounts;

    Accounts readAccounts(const engine::ConnectionObject& c) const;
    bool checkLogin(const Accounts& a, const engine::ConnectionObject& c) const;
    void findNamed(Accounts& a, const QString& user, const QString& password) const;
    Lookup findAddress(const QString& table, const QString& address) const;
    bool nameNow(const QString& table, const QString& entry) const;
    void nameInvalidEntry(const QString& table, const QString& entry) const;
    bool readVirtualDirs(qint32 accountId, QList<engine::VirtualDir>& out) const;
    std::unique_ptr<DataView> firstRow(const QString& select, const QVariantList& params,
                                       bool* failed = nullptr) const;

    QSqlDatabase database_;
    ConnectedUsers& users_;
    const ListSwitches& switches_;
    std::unique_ptr<HostNameCache> hosts_;
    std::unique_ptr<PasswordChecker> passwords_;
    mutable QSet<QString> namedInvalid_;
    AddressResolver resolve_;
    DefaultRoot defaultRoot_;
};

} // namespace kv::access
