// The account subcommands: user and anonymous, through the account service
// (access/AccountService.h), which judges them as the Account panel does.
#include "access/AccountService.h"
#include "program/CliContext.h"
#include "program/CliLimits.h"
#include "program/CliOutput.h"
#include "settings/SharedRoot.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace kv::cli {

namespace {

const QString kRoot = QStringLiteral("root");
const QString kRights = QStringLiteral("rights");
const QString kLogin = QStringLiteral("login");
const QString kEnabled = QStringLiteral("enabled");
// "--whole-disk" as the argument reader names it.
const QString kWholeDisk = settings::kWholeDiskFlag.mid(2);

std::optional<QString> askPassword(CliContext& c, const QString& login) {
    return c.io.readPassword(QStringLiteral("Password di %1: ").arg(login));
}

// The "--root", "--rights" and limit options as fields to write, or why the
// rights letters or a limit cannot be read.
struct ReadFields {
    access::AccountFields fields;
    QString error;
};

// Every option that changes an account's fields (the login aside).
QSet<QString> fieldOptions() {
    return QSet<QString>{kRoot, kRights} + limitOptionNames();
}

ReadFields accountFields(CliContext& c) {
    ReadFields read;
    if (c.args.values.contains(kRoot))
        read.fields.root = absoluteFolder(c.args.value(kRoot));
    read.fields.wholeDiskChosen = c.args.has(kWholeDisk);
    if (c.args.values.contains(kRights)) {
        read.fields.rights = files::Rights::parse(c.args.value(kRights));
        if (!read.fields.rights)
            read.error = access::rightsRefusal(c.args.value(kRights));
    }
    if (read.error.isEmpty()) {
        const ReadLimits limits = readLimitOptions(c.args);
        read.fields.limits = limits.changes;
        read.error = limits.error;
    }
    return read;
}

// The root judged before the rights letters, as the options were always judged.
std::optional<QString> fieldsRefusal(const access::AccountService& service, const ReadFields& read,
                                     const access::RootOwner& owner) {
    access::AccountFields rootOnly;
    rootOnly.root = read.fields.root;
    rootOnly.wholeDiskChosen = read.fields.wholeDiskChosen;
    if (const auto problem = service.fieldsProblem(rootOnly, owner))
        return problem;
    if (!read.error.isEmpty())
        return read.error;
    return std::nullopt;
}

int userAdd(CliContext& c, const QString& login) {
    access::AccountService service(c.db);
    ReadFields read = accountFields(c);
    if (const auto problem = service.newAccountProblem(login, {}))
        return refuse(c, *problem);
    if (const auto problem = fieldsRefusal(service, read, access::accountRootOwner(login)))
        return refuse(c, *problem);
    const auto password = askPassword(c, login);
    if (!password)
        return refuse(c, QStringLiteral("Nessuna password letta: l'account non è stato creato"));
    read.fields.enabled = !c.args.has(QStringLiteral("disabled"));
    if (const auto refusal = service.addAccount(login, *password, read.fields))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("Account \"%1\" creato").arg(login));
}

// The rows as a table, with their limits and expiry; JSON adds each limit
// as a number and whether the account has expired.
void printAccounts(CliContext& c, CliTable table, const QList<access::AccountRow>& rows) {
    const QDateTime now = QDateTime::currentDateTime();
    if (c.json()) {
        QJsonArray array;
        for (int i = 0; i < rows.size(); ++i) {
            QJsonObject object;
            for (int col = 0; col < table.columns.size(); ++col)
                object.insert(table.columns[col], table.rows[i].value(col));
            addLimitsJson(object, rows[i].limits, now);
            array.append(object);
        }
        c.io.out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return;
    }
    table.columns << QStringLiteral("scadenza") << QStringLiteral("limiti");
    for (int i = 0; i < rows.size(); ++i)
        table.rows[i] << expiryCell(rows[i].limits, now) << limitsSummary(rows[i].limits);
    printTable(c.io.out, table, false);
}

int userList(CliContext& c) {
    CliTable table{{QStringLiteral("login"), QStringLiteral("abilitato"), QStringLiteral("diritti"),
                    QStringLiteral("cartella")},
                   {}};
    const QList<access::AccountRow> rows = access::AccountService(c.db).accounts();
    for (const access::AccountRow& r : rows)
        table.rows << QStringList{r.login, r.enabled ? QStringLiteral("sì") : QStringLiteral("no"),
                                  r.rights.mask(), r.root};
    printAccounts(c, table, rows);
    return kDone;
}

int userSet(CliContext& c, const QString& login) {
    access::AccountService service(c.db);
    ReadFields read = accountFields(c);
    std::optional<QString> renamed;
    if (c.args.values.contains(kLogin))
        renamed = c.args.value(kLogin);
    if (const auto problem = service.changeProblem(login, renamed, {}))
        return refuse(c, *problem);
    if (const auto problem = fieldsRefusal(service, read, access::accountRootOwner(login)))
        return refuse(c, *problem);
    if (c.args.values.contains(kEnabled)) {
        const QString v = c.args.value(kEnabled);
        if (v != QLatin1String("0") && v != QLatin1String("1"))
            return refuse(c, QStringLiteral("--enabled vuole 0 o 1, non \"%1\"").arg(v));
        read.fields.enabled = v == QLatin1String("1");
    }
    if (!renamed && read.fields.isEmpty())
        return usage(c, QStringLiteral("Niente da cambiare: --login, --root, --rights, --enabled "
                                       "o un limite (--rate-up, --quota, --expires, ...)"));
    if (const auto refusal = service.changeAccount(login, renamed, read.fields))
        return refuse(c, *refusal);
    if (renamed && *renamed != login)
        return done(c, QStringLiteral("Account \"%1\" rinominato in \"%2\"").arg(login, *renamed));
    return done(c, QStringLiteral("Account \"%1\" aggiornato").arg(login));
}

int userPasswd(CliContext& c, const QString& login) {
    access::AccountService service(c.db);
    if (!service.accountId(login))
        return refuse(c, access::missingAccountMessage(login));
    const auto password = askPassword(c, login);
    if (!password)
        return refuse(c, QStringLiteral("Nessuna password letta: la password non è cambiata"));
    if (const auto refusal = service.setPassword(login, *password))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("Password di \"%1\" cambiata").arg(login));
}

int userDel(CliContext& c, const QString& login) {
    const access::AccountService::Removal removal =
        access::AccountService(c.db).removeAccount(login);
    if (removal.error)
        return refuse(c, *removal.error);
    if (removal.rules == 1)
        return done(c,
                    QStringLiteral("Account \"%1\" eliminato insieme alla sua azione").arg(login));
    if (removal.rules > 1)
        return done(c, QStringLiteral("Account \"%1\" eliminato insieme alle sue %2 azioni")
                           .arg(login)
                           .arg(removal.rules));
    return done(c, QStringLiteral("Account \"%1\" eliminato").arg(login));
}

int anonymousShow(CliContext& c) {
    CliTable table{
        {QStringLiteral("abilitato"), QStringLiteral("diritti"), QStringLiteral("cartella")}, {}};
    QList<access::AccountRow> rows;
    if (const auto row = access::AccountService(c.db).anonymous()) {
        rows << *row;
        table.rows << QStringList{row->enabled ? QStringLiteral("sì") : QStringLiteral("no"),
                                  row->rights.mask(), row->root};
    }
    printAccounts(c, table, rows);
    return kDone;
}

} // namespace

int userCommand(CliContext& c) {
    c.args = readArguments(c.args.words, fieldOptions() + QSet<QString>{kLogin, kEnabled},
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
    c.args = readArguments(c.args.words, fieldOptions(), {QStringLiteral("json"), kWholeDisk});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QString action = c.args.words.value(0);
    const QString uso = QStringLiteral("Uso: kestrova anonymous on|off|set|show");
    if (c.args.words.size() != 1)
        return usage(c, uso);
    if (action == QLatin1String("show"))
        return anonymousShow(c);
    const bool set = action == QLatin1String("set");
    if (action != QLatin1String("on") && action != QLatin1String("off") && !set)
        return usage(c, uso);
    access::AccountService service(c.db);
    ReadFields read = accountFields(c);
    if (const auto problem = fieldsRefusal(service, read, access::anonymousRootOwner()))
        return refuse(c, *problem);
    if (!set)
        read.fields.enabled = action == QLatin1String("on");
    else if (read.fields.isEmpty())
        return usage(c, QStringLiteral("Niente da cambiare: --root, --rights o un limite "
                                       "(--rate-up, --quota, --expires, ...)"));
    if (const auto refusal = service.changeAnonymous(read.fields))
        return refuse(c, *refusal);
    if (set)
        return done(c, QStringLiteral("Account anonimo aggiornato"));
    return done(c, action == QLatin1String("on") ? QStringLiteral("Account anonimo abilitato")
                                                 : QStringLiteral("Account anonimo disabilitato"));
}

} // namespace kv::cli
