#include "access/AccountService.h"

#include "access/AccountColumns.h"
#include "access/AccountLimitsTable.h"
#include "access/AccountSchema.h"
#include "access/PasswordHash.h"
#include "access/SqlRows.h"
#include "files/LoginGrant.h"

#include <QDir>

namespace kv::access {

namespace {

const QString kHashFailed = QStringLiteral("Impossibile calcolare l'hash della password");

QString assignments(const QStringList& names) {
    QStringList parts;
    for (const QString& n : names)
        parts << n + QStringLiteral(" = ?");
    return parts.join(QStringLiteral(", "));
}

QString rightColumns() {
    QStringList names;
    for (const auto& [name, right] : column::kRights)
        names << column::quoted(name);
    return names.join(QStringLiteral(", "));
}

files::Rights rightsAt(const QVariantList& row, int first) {
    files::Rights rights;
    for (int i = 0; i < int(column::kRights.size()); ++i) {
        if (row.value(first + i).toBool())
            rights.add(column::kRights[i].second);
    }
    return rights;
}

} // namespace

QString missingAccountMessage(const QString& login) {
    return QStringLiteral("L'account \"%1\" non esiste").arg(login);
}

QString rightsRefusal(const QString& letters) {
    return QStringLiteral("Diritti non validi: \"%1\" (lettere ammesse: r w d b m)").arg(letters);
}

AccountService::AccountService(QSqlDatabase db) : db_(std::move(db)) {}

std::optional<qint64> AccountService::accountId(const QString& login) const {
    const QVariant id =
        readValue(db_, QStringLiteral("SELECT ID FROM users WHERE login = ?"), {login});
    if (!id.isValid())
        return std::nullopt;
    return id.toLongLong();
}

std::optional<QString> AccountService::storedLogin(qint64 id) const {
    const QVariant login =
        readValue(db_, QStringLiteral("SELECT login FROM users WHERE ID = ?"), {id});
    if (!login.isValid())
        return std::nullopt;
    return login.toString();
}

QHash<qint32, files::AccountLimits> AccountService::allLimits() const {
    return AccountLimitsTable(db_).readAll().value_or(QHash<qint32, files::AccountLimits>());
}

QList<AccountRow> AccountService::accounts() const {
    const QHash<qint32, files::AccountLimits> limits = allLimits();
    QList<AccountRow> list;
    for (const QVariantList& r :
         readRows(db_, QStringLiteral("SELECT ID, login, enabled, %1, rootdir FROM users "
                                      "ORDER BY login")
                           .arg(rightColumns()))) {
        list << AccountRow{r[0].toLongLong(), r[1].toString(), r[2].toBool(),
                           rightsAt(r, 3),    r[8].toString(), limits.value(r[0].toInt())};
    }
    return list;
}

int AccountService::ruleCount(const QString& login) const {
    if (login.isEmpty())
        return 0;
    // None without the table.
    return readValue(db_,
                     QStringLiteral("SELECT count(*) FROM actions WHERE user = ? COLLATE NOCASE"),
                     {login})
        .toInt();
}

std::optional<QString> AccountService::fieldsProblem(const AccountFields& fields,
                                                     const RootOwner& owner) const {
    if (fields.root) {
        if (const auto problem = rootProblem(*fields.root))
            return problem;
        if (rootNeedsWholeDiskChoice(*fields.root, owner) && !fields.wholeDiskChosen)
            return wholeDiskRefusal(owner);
    }
    return fields.limits.problem();
}

std::optional<QString> AccountService::newAccountProblem(const QString& login,
                                                         const AccountFields& fields) const {
    if (const auto problem = loginProblem(db_, login))
        return problem;
    return fieldsProblem(fields, accountRootOwner(login));
}

std::optional<QString> AccountService::changeProblem(const QString& login,
                                                     const std::optional<QString>& newLogin,
                                                     const AccountFields& fields) const {
    const auto id = accountId(login);
    if (!id)
        return missingAccountMessage(login);
    if (newLogin) {
        if (const auto problem = loginProblem(db_, *newLogin, *id))
            return problem;
    }
    return fieldsProblem(fields, accountRootOwner(login));
}

void AccountService::collect(const AccountFields& fields, QStringList& names,
                             QVariantList& values) const {
    if (fields.root) {
        names << column::kRootDir;
        values << (fields.root->isEmpty() ? QString() : QDir::cleanPath(*fields.root));
    }
    if (fields.rights) {
        for (const auto& [name, right] : column::kRights) {
            names << column::quoted(name);
            values << int(fields.rights->has(right));
        }
    }
    if (fields.enabled) {
        names << column::kEnabled;
        values << int(*fields.enabled);
    }
}

std::optional<QString> AccountService::addAccount(const QString& login, const QString& password,
                                                  const AccountFields& fields) {
    if (const auto problem = newAccountProblem(login, fields))
        return problem;
    const auto hash = hashPassword(password);
    if (!hash)
        return kHashFailed;
    QStringList names = {column::kLogin, column::kPassword};
    QVariantList values = {login, *hash};
    AccountFields stored = fields;
    if (!stored.enabled)
        stored.enabled = true;
    collect(stored, names, values);
    const QString sql =
        QStringLiteral("INSERT INTO users (%1) VALUES (%2)")
            .arg(names.join(QStringLiteral(", ")),
                 QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
    QList<SqlStatement> statements = {{sql, values}};
    if (!fields.limits.isEmpty()) {
        (void)AccountLimitsTable::ensure(db_);
        statements << AccountLimitsTable::changeStatements(
            fields.limits, QStringLiteral("SELECT ID FROM users WHERE login = ?"), {login});
    }
    if (const auto refusal = writeAll(db_, statements))
        return accountId(login) ? kDuplicateLoginMessage : *refusal;
    return std::nullopt;
}

std::optional<QString> AccountService::changeAccount(const QString& login,
                                                     const std::optional<QString>& newLogin,
                                                     const AccountFields& fields) {
    if (const auto problem = changeProblem(login, newLogin, fields))
        return problem;
    QStringList names;
    QVariantList values;
    if (newLogin) {
        (void)ensureActionTriggers(db_);
        names << column::kLogin;
        values << *newLogin;
    }
    collect(fields, names, values);
    const QVariant key = newLogin ? QVariant(*accountId(login)) : QVariant(login);
    const QString keyColumn = newLogin ? column::kId : column::kLogin;
    QList<SqlStatement> statements;
    if (!names.isEmpty()) {
        values << key;
        statements << SqlStatement{
            QStringLiteral("UPDATE users SET %1 WHERE %2 = ?").arg(assignments(names), keyColumn),
            values};
    }
    if (!fields.limits.isEmpty()) {
        (void)AccountLimitsTable::ensure(db_);
        // The limits go with the account's number, which a rename keeps.
        statements << AccountLimitsTable::changeStatements(
            fields.limits, QStringLiteral("SELECT ID FROM users WHERE %1 = ?").arg(keyColumn),
            {key});
    }
    if (statements.isEmpty())
        return std::nullopt;
    return writeAll(db_, statements);
}

std::optional<QString> AccountService::setPassword(const QString& login, const QString& password) {
    if (!accountId(login))
        return missingAccountMessage(login);
    const auto hash = hashPassword(password);
    if (!hash)
        return kHashFailed;
    return writeAll(
        db_, {{QStringLiteral("UPDATE users SET password = ? WHERE login = ?"), {*hash, login}}});
}

AccountService::Removal AccountService::removeAccount(const QString& login) {
    const auto id = accountId(login);
    if (!id)
        return {missingAccountMessage(login)};
    const int rules = ruleCount(login);
    (void)ensureActionTriggers(db_);
    if (const auto refusal =
            writeAll(db_, {{QStringLiteral("DELETE FROM virtualdirs WHERE user = ?"), {*id}},
                           {QStringLiteral("DELETE FROM users WHERE ID = ?"), {*id}}}))
        return {refusal};
    return {std::nullopt, rules};
}

std::optional<AccountRow> AccountService::anonymous() const {
    const auto rows = readRows(
        db_, QStringLiteral("SELECT enabled, %1, rootdir FROM anonymous").arg(rightColumns()));
    if (rows.isEmpty())
        return std::nullopt;
    const QVariantList& r = rows.first();
    return AccountRow{files::kAnonymousAccountId,
                      QStringLiteral("anonymous"),
                      r[0].toBool(),
                      rightsAt(r, 1),
                      r[6].toString(),
                      AccountLimitsTable(db_).read(files::kAnonymousAccountId)};
}

std::optional<QString> AccountService::changeAnonymous(const AccountFields& fields) {
    if (const auto problem = fieldsProblem(fields, anonymousRootOwner()))
        return problem;
    if (readRows(db_, QStringLiteral("SELECT rowid FROM anonymous")).isEmpty())
        return QStringLiteral("accounts.dat non ha la riga dell'account anonimo");
    QStringList names;
    QVariantList values;
    collect(fields, names, values);
    QList<SqlStatement> statements;
    if (!names.isEmpty())
        statements << SqlStatement{
            QStringLiteral("UPDATE anonymous SET %1").arg(assignments(names)), values};
    if (!fields.limits.isEmpty()) {
        (void)AccountLimitsTable::ensure(db_);
        statements << AccountLimitsTable::changeStatements(
            fields.limits, QStringLiteral("SELECT %1").arg(files::kAnonymousAccountId), {});
    }
    if (statements.isEmpty())
        return std::nullopt;
    return writeAll(db_, statements);
}

} // namespace kv::access
