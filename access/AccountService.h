#pragma once
// The one way accounts are changed, for the command line, the panels and the
// administration channel alike: adding, changing (login, password, root with
// the whole-disk choice, rights, enabled, limits) and deleting accounts, and
// the anonymous account. The limits live in the table account_limits
// (access/AccountLimitsTable.h) and are declared in access/AccountLimitFields.h. Every value is
// judged by access/EntryChecks.h first; a refusal comes back as the Italian reason, and nothing
// refused is written. Virtual folders are VirtualDirService's, settings and options
// SettingsService's.

#include "access/AccountLimitFields.h"
#include "access/EntryChecks.h"
#include "files/AccountLimits.h"
#include "files/Rights.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace kv::access {

// What to set on an account (or the anonymous account); unset: left as it is.
struct AccountFields {
    // An absolute folder, or empty for the default root.
    std::optional<QString> root;
    // The operator chose the whole disk by name (the window's yes,
    // the command line's --whole-disk).
    bool wholeDiskChosen = false;
    std::optional<files::Rights> rights;
    std::optional<bool> enabled;
    // Speed limits, quota and expiry date (LimitChanges, AccountLimitFields.h).
    LimitChanges limits;
    bool isEmpty() const { return !root && !rights && !enabled && limits.isEmpty(); }
};

struct AccountRow {
    qint64 id = -1;
    QString login;
    bool enabled = false;
    files::Rights rights;
    QString root;
    // None when the account has no row in account_limits.
    files::AccountLimits limits;
};

// "L'account "<login>" non esiste"
QString missingAccountMessage(const QString& login);
// The refusal of rights letters that Rights::parse() does not read.
QString rightsRefusal(const QString& letters);

class AccountService {
public:
    explicit AccountService(QSqlDatabase db);

    std::optional<qint64> accountId(const QString& login) const;
    // The login stored under `id`; nullopt when there is none.
    std::optional<QString> storedLogin(qint64 id) const;
    // Every account, by login.
    QList<AccountRow> accounts() const;
    // The action rules deleting the account `login` takes with it.
    int ruleCount(const QString& login) const;

    // Why `fields` are refused for `owner`'s root: a root that is no
    // existing absolute folder, or the whole disk not chosen by name; then a
    // limit out of its range.
    std::optional<QString> fieldsProblem(const AccountFields& fields, const RootOwner& owner) const;
    // Why a new account `login` with `fields` is refused (login first).
    std::optional<QString> newAccountProblem(const QString& login,
                                             const AccountFields& fields) const;
    // Why renaming `login` to `newLogin` (when given) and setting `fields`
    // is refused: no such account, the new login, then the fields.
    std::optional<QString> changeProblem(const QString& login,
                                         const std::optional<QString>& newLogin,
                                         const AccountFields& fields) const;

    // A new account; enabled unless `fields` say otherwise, no rights unless given.
    std::optional<QString> addAccount(const QString& login, const QString& password,
                                      const AccountFields& fields);
    // Renames one account (its keys and action rules follow by the file's
    // triggers, its virtual folders by ID) and sets `fields` on it. Without a
    // rename the fields reach every row of the login (an older file may hold
    // it twice), so none stays enabled by mistake.
    std::optional<QString> changeAccount(const QString& login,
                                         const std::optional<QString>& newLogin,
                                         const AccountFields& fields);
    // Stores the yescrypt hash of `password`.
    std::optional<QString> setPassword(const QString& login, const QString& password);

    struct Removal {
        std::optional<QString> error;
        int rules = 0; // action rules that went with it
    };
    // The account and exactly its virtual folders; its keys and action rules
    // go with it by the file's triggers.
    Removal removeAccount(const QString& login);

    // The anonymous account's row; nullopt when the file has none.
    std::optional<AccountRow> anonymous() const;
    std::optional<QString> changeAnonymous(const AccountFields& fields);

private:
    // Column names and values for `fields` (judged already).
    void collect(const AccountFields& fields, QStringList& names, QVariantList& values) const;
    // Every account's limits by number (none when they cannot be read).
    QHash<qint32, files::AccountLimits> allLimits() const;

    QSqlDatabase db_;
};

} // namespace kv::access
