#pragma once
// The one judgement of what the operator types for an account, a virtual
// folder or an address list entry, for the window's panels and the command
// line alike: each check returns the Italian reason a value is refused, or
// nullopt when it may be stored. A refused value is never written.

#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace kv::access {

inline const QString kDuplicateLoginMessage = QStringLiteral("Non è consentito duplicare i Login");

// A login: not empty, no blanks or control characters (an action rule could
// not name it), neither "anonymous" (the anonymous account) nor "*" (every
// account in a rule), and no other account's login, ignoring letter case as
// logins do. `ownId` is the account being renamed; -1 for a new one.
std::optional<QString> loginProblem(const QSqlDatabase& db, const QString& login,
                                    qint64 ownId = -1);

// An account's (or the anonymous account's) root: empty for the default
// root, otherwise an existing folder given as an absolute path.
std::optional<QString> rootProblem(const QString& root);

// Whose root a value is, as the whole-disk texts name it.
struct RootOwner {
    QString name; // "la cartella radice predefinita", "l'account bob", "l'account anonimo"
    // An empty default root is the whole disk (an older file's); an empty
    // account root is the default root.
    bool emptyIsWholeDisk = false;
};
RootOwner defaultRootOwner();
RootOwner accountRootOwner(const QString& login);
RootOwner anonymousRootOwner();

// A root of `owner` that is accepted only as an explicit choice: the whole disk.
bool rootNeedsWholeDiskChoice(const QString& root, const RootOwner& owner);
// The window's question before such a root is kept for `owner`; its default
// answer is No.
QString wholeDiskQuestion(const RootOwner& owner);
// The command line's refusal of such a root without --whole-disk.
QString wholeDiskRefusal(const RootOwner& owner);

// The folder an owner's virtual folders appear under: the account's root
// (owner 0: the anonymous account's), or the default root when it has none.
QString ownerRoot(const QSqlDatabase& db, qint64 owner);

struct VirtualDirEntry {
    QString name;        // one path segment
    QString position;    // a folder inside the owner's root; empty: the root itself
    QString destination; // the real folder shown there
};
// Each field alone; `root` is the owner's root (ownerRoot).
std::optional<QString> virtualDirNameProblem(const QString& name);
std::optional<QString> virtualDirPositionProblem(const QString& position, const QString& root);
std::optional<QString> virtualDirDestinationProblem(const QString& destination);
// Another of the owner's folders with the same name at the same position;
// `ownRowid` is the row being edited, -1 for a new one.
std::optional<QString> virtualDirDuplicate(const QSqlDatabase& db, qint64 owner,
                                           const VirtualDirEntry& entry, qint64 ownRowid = -1);
// The whole entry, in the order name, position, destination, duplicate.
std::optional<QString> virtualDirProblem(const QSqlDatabase& db, qint64 owner,
                                         const VirtualDirEntry& entry, qint64 ownRowid = -1);

// "L'indirizzo "<address>" è già inserito nella lista"
QString alreadyListedMessage(const QString& address);
// An entry of list `table` ("IPok" or "IPko"): an address, a CIDR block, a
// range or a trailing wildcard (AddressPattern), not already on the list.
// `ownRowid` is the row being edited, -1 for a new one.
std::optional<QString> listEntryProblem(const QSqlDatabase& db, const QString& table,
                                        const QString& entry, qint64 ownRowid = -1);

} // namespace kv::access
