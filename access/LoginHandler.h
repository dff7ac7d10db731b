#pragma once
// Deciding a login: the decision is made from the named accounts, the
// anonymous account and the two address lists, and an accepted login gets
// its LoginGrant: the account, its rights, its root folder and its virtual
// folders, its limits, which the session holds from then on. An account
// past its expiry date (see access/AccountLimitFields.h) is refused as a
// wrong password would be, but, the password being right, the refusal does
// not count towards a ban of the address.
//
// Every lookup is a small read-only query on the database file: it sees
// committed rows only, never moves a row the operator is editing, binds every
// value as a parameter (so quotes, % and _ are compared whole), and reads only
// the rows it needs, so a login costs the same however many accounts exist.
// A stored password may be a crypt(3) hash (see PasswordHash.h); list entries
// are address patterns (see AddressPattern.h), and an entry that is none
// matches nothing.
// A read that fails (accounts.dat locked by another program past the
// connection's short busy wait, a table gone) decides nothing: the login is
// answered as unavailable, not as a wrong password, and the client may try
// again.

#include "access/ListSwitches.h"
#include "session/LoginDecision.h"
#include "sftp/KeyLogins.h"

#include <QDateTime>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace kv::access {

class DataView;
class PasswordChecker;

// The log line naming an entry of list `table` ("IPok" or "IPko") that is no
// address pattern and so matches nothing.
QString invalidListEntryLine(const QString& table, const QString& entry);

// Why a login was refused, as the log says it.
namespace refusal {
inline const QString kBlank = QStringLiteral("nome e password vuoti");
inline const QString kNoAccount = QStringLiteral("account inesistente");
inline const QString kWrongPassword = QStringLiteral("password errata");
inline const QString kDisabled = QStringLiteral("account disabilitato");
inline const QString kAddress = QStringLiteral("indirizzo non autorizzato");
inline const QString kKeyNotListed = QStringLiteral("chiave non autorizzata per l'account");
inline const QString kAnonymousKey = QStringLiteral("l'account anonimo non accede con una chiave");
inline const QString kExpired = QStringLiteral("account scaduto");
} // namespace refusal

class LoginHandler {
public:
    using DefaultRoot = std::function<QString()>;
    using Clock = std::function<QDateTime()>;

    // `database` holds the accounts (accounts.dat). `defaultRoot` gives the
    // root of an account that has none (the server's root folder).
    LoginHandler(QSqlDatabase database, const ListSwitches& switches, DefaultRoot defaultRoot = {});
    ~LoginHandler();
    // What "now" is for the accounts' expiry dates (tests set their own).
    void setClock(Clock clock) { clock_ = std::move(clock); }

    // The whole answer to the engine's LoginRequest.
    session::LoginDecision LoginRequest(const session::ConnectionObject& c);
    // A login already proven by the key with `fingerprint` (libssh checked
    // the signature): the key must be listed for the account, which is then
    // judged as a password login (enabled, address lists) and gets the same
    // grant. The anonymous account never logs in this way.
    session::LoginDecision KeyLoginRequest(const session::ConnectionObject& c,
                                           const QString& fingerprint);
    sftp::KeyListed KeyIsListed(const QString& login, const QString& fingerprint) const;

    // Log lines naming the list entries that match nothing, for the activity
    // log when the server starts. Each entry is named once for the life of
    // the handler; a login that meets one first names it in the warning log.
    QStringList InvalidListEntries() const;

private:
    enum class Lookup { Found, NotFound, Failed };
    struct Accounts;

    Accounts readAccounts(const QString& user, const QString& password) const;
    Accounts readKeyAccount(const QString& user, const QString& fingerprint) const;
    session::LoginDecision decide(const session::ConnectionObject& c, const Accounts& accounts);
    void findNamed(Accounts& a, const QString& user, const QString& password) const;
    // Reads the rows of `user` and keeps in `a` the one to log in with among
    // those `opens` lets in.
    using RowTest = std::function<bool(const DataView&)>;
    void chooseRow(Accounts& a, const QString& user, const RowTest& opens) const;
    Lookup findAddress(const QString& table, const QString& address) const;
    bool nameNow(const QString& table, const QString& entry) const;
    void nameInvalidEntry(const QString& table, const QString& entry) const;
    bool readVirtualDirs(qint32 accountId, QList<files::VirtualDir>& out) const;
    std::unique_ptr<DataView> firstRow(const QString& select, const QVariantList& params,
                                       QString* failure) const;

    QSqlDatabase database_;
    const ListSwitches& switches_;
    std::unique_ptr<PasswordChecker> passwords_;
    mutable QSet<QString> namedInvalid_;
    DefaultRoot defaultRoot_;
    Clock clock_ = &QDateTime::currentDateTime;
};

} // namespace kv::access
