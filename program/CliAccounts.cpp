// The account subcommands: user and anonymous. Logins and roots are judged
// by access/EntryChecks.h, as the Account panel judges them.
#include "access/AccountSchema.h"
#include "access/EntryChecks.h"
#include "access/PasswordHash.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"
#include "settings/SharedRoot.h"

#include <QDir>
#include <QFileInfo>

namespace kv::cli {

namespace {

const QString kRoot = QStringLiteral("root");
const QString kRights = QStringLiteral("rights");
const QString kLogin = QStringLiteral("login");
// "--whole-disk" as the argument reader names it.
const QString kWholeDisk = settings::kWholeDiskFlag.mid(2);

bool accountExists(CliContext& c, const QString& login) {
    return !readRows(c.db, QStringLiteral("SELECT ID FROM users WHERE login = ?"), {login})
                .isEmpty();
}

int missingAccount(CliContext& c, const QString& login) {
    return refuse(c, QStringLiteral("L'account \"%1\" non esiste").arg(login));
}

std::optional<QString> askPassword(CliContext& c, const QString& login) {
    return c.io.readPassword(QStringLiteral("Password di %1: ").arg(login));
}

// The "--root" (of `owner`) and "--rights" options as fields to write, or why
// they are refused.
struct AccountFields {
    QStringList names;
    QVariantList values;
    QString error;
};

AccountFields accountFields(CliContext& c, const access::RootOwner& owner) {
    AccountFields f;
    if (c.args.values.contains(kRoot)) {
        QString root = c.args.value(kRoot);
        // A relative folder on a command line is the shell's: below its working folder.
        if (!root.isEmpty() && !QDir::isAbsolutePath(root))
            root = QFileInfo(root).absoluteFilePath();
        if (const auto problem = access::rootProblem(root)) {
            f.error = *problem;
            return f;
        }
        if (access::rootNeedsWholeDiskChoice(root, owner) && !c.args.has(kWholeDisk)) {
            f.error = access::wholeDiskRefusal(owner);
            return f;
        }
        f.names << QStringLiteral("rootdir");
        f.values << (root.isEmpty() ? QString() : QDir::cleanPath(root));
    }
    if (c.args.values.contains(kRights)) {
        const auto rights = parseRights(c.args.value(kRights));
        if (!rights) {
            f.error = QStringLiteral("Diritti non validi: \"%1\" (lettere ammesse: r w d b m)")
                          .arg(c.args.value(kRights));
            return f;
        }
        for (int i = 0; i < 5; ++i) {
            f.names << kRightFields[i];
            f.values << int((*rights)[i]);
        }
    }
    return f;
}

QString assignments(const QStringList& names) {
    QStringList parts;
    for (const QString& n : names)
        parts << n + QStringLiteral(" = ?");
    return parts.join(QStringLiteral(", "));
}

int userAdd(CliContext& c, const QString& login) {
    if (const auto problem = access::loginProblem(c.db, login))
        return refuse(c, *problem);
    const AccountFields fields = accountFields(c, access::accountRootOwner(login));
    if (!fields.error.isEmpty())
        return refuse(c, fields.error);
    const auto password = askPassword(c, login);
    if (!password)
        return refuse(c, QStringLiteral("Nessuna password letta: l'account non è stato creato"));
    const auto hash = access::hashPassword(*password);
    if (!hash)
        return refuse(c, QStringLiteral("Impossibile calcolare l'hash della password"));
    QStringList names = {QStringLiteral("login"), QStringLiteral("password"),
                         QStringLiteral("enabled")};
    QVariantList values = {login, *hash, int(!c.args.has(QStringLiteral("disabled")))};
    names += fields.names;
    values += fields.values;
    const QString sql =
        QStringLiteral("INSERT INTO users (%1) VALUES (%2)")
            .arg(names.join(QStringLiteral(", ")),
                 QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
    if (const auto refusal = writeAll(c.db, {{sql, values}}))
        return refuse(c,
                      accountExists(c, login) ? access::kDuplicateLoginMessage : refusal->message);
    return done(c, QStringLiteral("Account \"%1\" creato").arg(login));
}

int userList(CliContext& c) {
    CliTable table{{QStringLiteral("login"), QStringLiteral("abilitato"), QStringLiteral("diritti"),
                    QStringLiteral("cartella")},
                   {}};
    const auto rows =
        readRows(c.db, QStringLiteral("SELECT login, enabled, read, write, \"delete\", "
                                      "browse, manage, rootdir FROM users ORDER BY login"));
    for (const QVariantList& r : rows) {
        QList<bool> rights;
        for (int i = 2; i < 7; ++i)
            rights << r[i].toBool();
        table.rows << QStringList{r[0].toString(),
                                  r[1].toBool() ? QStringLiteral("sì") : QStringLiteral("no"),
                                  rightsLetters(rights), r[7].toString()};
    }
    printTable(c.io.out, table, c.json());
    return kDone;
}

int userSet(CliContext& c, const QString& login) {
    const auto ids =
        readRows(c.db, QStringLiteral("SELECT ID FROM users WHERE login = ?"), {login});
    if (ids.isEmpty())
        return missingAccount(c, login);
    const qint64 id = ids.first().first().toLongLong();
    AccountFields fields;
    const QString renamed = c.args.value(kLogin);
    if (c.args.values.contains(kLogin)) {
        // Its keys, action rules (by the file's triggers) and virtual folders
        // (by ID) follow the new login in the same statement.
        if (const auto problem = access::loginProblem(c.db, renamed, id))
            return refuse(c, *problem);
        (void)access::ensureActionTriggers(c.db);
        fields.names << kLogin;
        fields.values << renamed;
    }
    const AccountFields more = accountFields(c, access::accountRootOwner(login));
    if (!more.error.isEmpty())
        return refuse(c, more.error);
    fields.names += more.names;
    fields.values += more.values;
    if (c.args.values.contains(QStringLiteral("enabled"))) {
        const QString v = c.args.value(QStringLiteral("enabled"));
        if (v != QLatin1String("0") && v != QLatin1String("1"))
            return refuse(c, QStringLiteral("--enabled vuole 0 o 1, non \"%1\"").arg(v));
        fields.names << QStringLiteral("enabled");
        fields.values << v.toInt();
    }
    if (fields.names.isEmpty())
        return usage(c,
                     QStringLiteral("Niente da cambiare: --login, --root, --rights o --enabled"));
    // A rename is of one account; other changes reach every row of the login
    // (an older file may hold it twice), so none stays enabled by mistake.
    const bool renaming = c.args.values.contains(kLogin);
    fields.values << (renaming ? QVariant(id) : QVariant(login));
    if (const auto refusal =
            writeAll(c.db, {{QStringLiteral("UPDATE users SET %1 WHERE %2 = ?")
                                 .arg(assignments(fields.names),
                                      renaming ? QStringLiteral("ID") : QStringLiteral("login")),
                             fields.values}}))
        return refuse(c, refusal->message);
    if (renaming && renamed != login)
        return done(c, QStringLiteral("Account \"%1\" rinominato in \"%2\"").arg(login, renamed));
    return done(c, QStringLiteral("Account \"%1\" aggiornato").arg(login));
}

int userPasswd(CliContext& c, const QString& login) {
    if (!accountExists(c, login))
        return missingAccount(c, login);
    const auto password = askPassword(c, login);
    if (!password)
        return refuse(c, QStringLiteral("Nessuna password letta: la password non è cambiata"));
    const auto hash = access::hashPassword(*password);
    if (!hash)
        return refuse(c, QStringLiteral("Impossibile calcolare l'hash della password"));
    if (const auto refusal = writeAll(
            c.db,
            {{QStringLiteral("UPDATE users SET password = ? WHERE login = ?"), {*hash, login}}}))
        return refuse(c, refusal->message);
    return done(c, QStringLiteral("Password di \"%1\" cambiata").arg(login));
}

int userDel(CliContext& c, const QString& login) {
    const auto ids =
        readRows(c.db, QStringLiteral("SELECT ID FROM users WHERE login = ?"), {login});
    if (ids.isEmpty())
        return missingAccount(c, login);
    const QVariant id = ids.first().first();
    const auto rules =
        readRows(c.db, QStringLiteral("SELECT count(*) FROM actions WHERE user = ? COLLATE NOCASE"),
                 {login});
    const int ruleCount = rules.isEmpty() ? 0 : rules.first().first().toInt();
    // The account and exactly its virtual folders, as the panel deletes them;
    // its keys and action rules go with it by the file's triggers.
    (void)access::ensureActionTriggers(c.db);
    if (const auto refusal =
            writeAll(c.db, {{QStringLiteral("DELETE FROM virtualdirs WHERE user = ?"), {id}},
                            {QStringLiteral("DELETE FROM users WHERE ID = ?"), {id}}}))
        return refuse(c, refusal->message);
    if (ruleCount == 1)
        return done(c,
                    QStringLiteral("Account \"%1\" eliminato insieme alla sua azione").arg(login));
    if (ruleCount > 1)
        return done(c, QStringLiteral("Account \"%1\" eliminato insieme alle sue %2 azioni")
                           .arg(login)
                           .arg(ruleCount));
    return done(c, QStringLiteral("Account \"%1\" eliminato").arg(login));
}

} // namespace

int userCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {kRoot, kRights, kLogin, QStringLiteral("enabled")},
                           {QStringLiteral("disabled"), QStringLiteral("json"), kWholeDisk});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QStringList& w = c.args.words;
    const QString action = w.value(0);
    if (action == QLatin1String("list") && w.size() == 1)
        return userList(c);
    if (action == QLatin1String("key"))
        return userKeyCommand(c);
    if (w.size() != 2)
        return usage(
            c, QStringLiteral("Uso: kestrova user add|passwd|del|set NOME, kestrova user list, "
                              "kestrova user key add|list|del NOME"));
    if (action == QLatin1String("add"))
        return userAdd(c, w[1]);
    if (action == QLatin1String("passwd"))
        return userPasswd(c, w[1]);
    if (action == QLatin1String("del"))
        return userDel(c, w[1]);
    if (action == QLatin1String("set"))
        return userSet(c, w[1]);
    return usage(c, QStringLiteral("Azione sconosciuta: user %1").arg(action));
}

int anonymousCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {kRoot, kRights}, {QStringLiteral("json"), kWholeDisk});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QString action = c.args.words.value(0);
    if (c.args.words.size() != 1)
        return usage(c, QStringLiteral("Uso: kestrova anonymous on|off|show"));
    if (action == QLatin1String("show")) {
        CliTable table{
            {QStringLiteral("abilitato"), QStringLiteral("diritti"), QStringLiteral("cartella")},
            {}};
        for (const QVariantList& r :
             readRows(c.db, QStringLiteral("SELECT enabled, read, write, \"delete\", "
                                           "browse, manage, rootdir FROM anonymous"))) {
            QList<bool> rights;
            for (int i = 1; i < 6; ++i)
                rights << r[i].toBool();
            table.rows << QStringList{r[0].toBool() ? QStringLiteral("sì") : QStringLiteral("no"),
                                      rightsLetters(rights), r[6].toString()};
        }
        printTable(c.io.out, table, c.json());
        return kDone;
    }
    if (action != QLatin1String("on") && action != QLatin1String("off"))
        return usage(c, QStringLiteral("Uso: kestrova anonymous on|off|show"));
    AccountFields fields = accountFields(c, access::anonymousRootOwner());
    if (!fields.error.isEmpty())
        return refuse(c, fields.error);
    fields.names.prepend(QStringLiteral("enabled"));
    fields.values.prepend(int(action == QLatin1String("on")));
    if (readRows(c.db, QStringLiteral("SELECT rowid FROM anonymous")).isEmpty())
        return refuse(c, QStringLiteral("accounts.dat non ha la riga dell'account anonimo"));
    if (const auto refusal = writeAll(
            c.db, {{QStringLiteral("UPDATE anonymous SET %1").arg(assignments(fields.names)),
                    fields.values}}))
        return refuse(c, refusal->message);
    return done(c, action == QLatin1String("on") ? QStringLiteral("Account anonimo abilitato")
                                                 : QStringLiteral("Account anonimo disabilitato"));
}

} // namespace kv::cli
