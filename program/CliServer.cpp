// The server subcommands: ip (the allow and block lists), option (the
// options table) and settings (the settings row).
#include "access/EntryChecks.h"
#include "access/OptionsTable.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"
#include "settings/OptionCatalog.h"
#include "settings/SharedRoot.h"

#include <QDir>
#include <QFileInfo>

namespace kv::cli {

namespace {

const QString kJson = QStringLiteral("json");
const QString kWholeDisk = settings::kWholeDiskFlag.mid(2);

int ipList(CliContext& c, const QString& table) {
    CliTable out{{QStringLiteral("voce")}, {}};
    for (const QVariantList& r : readRows(c.db, QStringLiteral("SELECT IP FROM %1").arg(table)))
        out.rows << QStringList{r.first().toString()};
    printTable(c.io.out, out, c.json());
    return kDone;
}

int ipAdd(CliContext& c, const QString& table, const QString& entry) {
    // Judged as the Sicurezza panel judges a typed entry.
    if (const auto problem = access::listEntryProblem(c.db, table, entry))
        return refuse(c, *problem);
    const QString trimmed = entry.trimmed();
    if (const auto refusal = writeAll(
            c.db, {{QStringLiteral("INSERT INTO %1 (IP) VALUES (?)").arg(table), {trimmed}}}))
        return refuse(c, refusal->message);
    return done(c, QStringLiteral("\"%1\" aggiunto alla lista").arg(trimmed));
}

int ipDel(CliContext& c, const QString& table, const QString& entry) {
    const auto rows = readRows(c.db, QStringLiteral("SELECT rowid FROM %1 WHERE IP = ?").arg(table),
                               {entry.trimmed()});
    if (rows.isEmpty())
        return refuse(c, QStringLiteral("\"%1\" non è nella lista").arg(entry.trimmed()));
    if (const auto refusal =
            writeAll(c.db, {{QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(table),
                             {rows.first().first()}}}))
        return refuse(c, refusal->message);
    return done(c, QStringLiteral("\"%1\" tolto dalla lista").arg(entry.trimmed()));
}

int ipSwitch(CliContext& c, const QString& table, bool on) {
    if (const auto refusal =
            writeAll(c.db, {{QStringLiteral("UPDATE settings SET %1 = ?").arg(table), {int(on)}}}))
        return refuse(c, refusal->message);
    return done(c, QStringLiteral("Lista %1 %2")
                       .arg(table, on ? QStringLiteral("attiva") : QStringLiteral("disattivata")));
}

int optionList(CliContext& c, const access::OptionsTable& options) {
    const settings::OptionSet current = options.current();
    CliTable out{{QStringLiteral("nome"), QStringLiteral("valore"), QStringLiteral("descrizione")},
                 {}};
    for (const settings::OptionDef& def : options.catalog().options())
        out.rows << QStringList{def.name, settings::shownValue(def, current.value(def.name)),
                                def.caption};
    printTable(c.io.out, out, c.json());
    for (const QString& error : current.errors)
        c.io.err << error << Qt::endl;
    return kDone;
}

int optionSet(CliContext& c, access::OptionsTable& options, const QString& name,
              const QString& text) {
    const settings::OptionCheck check = options.catalog().check(name, text);
    if (!check.ok())
        return refuse(c, check.error);
    if (const auto refusal = options.writeChecked({{name, check.value}}))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("%1 = %2").arg(
                       name, settings::shownValue(*options.catalog().find(name), check.value)));
}

int optionUnset(CliContext& c, access::OptionsTable& options, const QString& name) {
    if (!options.catalog().find(name))
        return refuse(c, options.catalog().check(name, QString()).error);
    if (const auto refusal = options.remove(name))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("%1 torna al valore predefinito").arg(name));
}

int settingsShow(CliContext& c) {
    const QList<settings::OptionDef> columns =
        settings::optionCatalog().options(settings::OptionStore::SettingsRow);
    QStringList fields;
    for (const settings::OptionDef& column : columns)
        fields << column.name;
    const auto rows =
        readRows(c.db, QStringLiteral("SELECT %1 FROM settings").arg(fields.join(u',')));
    CliTable out{
        {QStringLiteral("impostazione"), QStringLiteral("valore"), QStringLiteral("descrizione")},
        {}};
    for (int i = 0; i < columns.size(); ++i)
        out.rows << QStringList{fields[i],
                                rows.isEmpty() ? QString() : rows.first().value(i).toString(),
                                columns[i].caption};
    printTable(c.io.out, out, c.json());
    return kDone;
}

int settingsSet(CliContext& c, const QString& field, const QString& value) {
    const settings::OptionCheck check =
        settings::optionCatalog().check(field, value, settings::OptionStore::SettingsRow);
    if (!check.ok())
        return refuse(c, check.error);
    QString stored = check.value;
    // A folder given on the command line is taken from where the command runs.
    if (field == settings::setting::kRootDir && !stored.isEmpty())
        stored = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(stored).absoluteFilePath()));
    // The whole disk (or an empty root, which means it) only when asked for by name.
    if (field == settings::setting::kRootDir &&
        access::rootNeedsWholeDiskChoice(stored, access::defaultRootOwner()) &&
        !c.args.has(kWholeDisk))
        return refuse(c, access::wholeDiskRefusal(access::defaultRootOwner()));
    if (const auto refusal =
            writeAll(c.db, {{QStringLiteral("UPDATE settings SET %1 = ?").arg(field), {stored}}}))
        return refuse(c, refusal->message);
    return done(c, QStringLiteral("%1 = %2").arg(field, stored));
}

} // namespace

int ipCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {}, {kJson});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QStringList& w = c.args.words;
    const QString list = w.value(0);
    if (list != QLatin1String("allow") && list != QLatin1String("block"))
        return usage(c, QStringLiteral("Uso: kestrova ip allow|block add|del|list|on|off [VOCE]"));
    const QString table =
        list == QLatin1String("allow") ? QStringLiteral("IPok") : QStringLiteral("IPko");
    const QString action = w.value(1);
    if (w.size() == 2 && action == QLatin1String("list"))
        return ipList(c, table);
    if (w.size() == 2 && (action == QLatin1String("on") || action == QLatin1String("off")))
        return ipSwitch(c, table, action == QLatin1String("on"));
    if (w.size() == 3 && action == QLatin1String("add"))
        return ipAdd(c, table, w[2]);
    if (w.size() == 3 && action == QLatin1String("del"))
        return ipDel(c, table, w[2]);
    return usage(c, QStringLiteral("Uso: kestrova ip allow|block add|del|list|on|off [VOCE]"));
}

int optionCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {}, {kJson});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QStringList& w = c.args.words;
    access::OptionsTable options(c.db);
    const QString action = w.value(0);
    if (action == QLatin1String("list") && w.size() == 1)
        return optionList(c, options);
    if (action == QLatin1String("get") && w.size() == 2) {
        const settings::OptionDef* def = options.catalog().find(w[1]);
        if (!def)
            return refuse(c, options.catalog().check(w[1], QString()).error);
        return done(c, settings::shownValue(*def, options.current().value(w[1])));
    }
    if (action == QLatin1String("set") && w.size() == 3)
        return optionSet(c, options, w[1], w[2]);
    if (action == QLatin1String("unset") && w.size() == 2)
        return optionUnset(c, options, w[1]);
    return usage(c,
                 QStringLiteral("Uso: kestrova option list|get NOME|set NOME VALORE|unset NOME"));
}

int settingsCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {}, {kJson, kWholeDisk});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QStringList& w = c.args.words;
    if (w.value(0) == QLatin1String("show") && w.size() == 1)
        return settingsShow(c);
    if (w.value(0) == QLatin1String("set") && w.size() == 3)
        return settingsSet(c, w[1], w[2]);
    return usage(c,
                 QStringLiteral("Uso: kestrova settings show, kestrova settings set CAMPO VALORE "
                                "[--whole-disk]"));
}

} // namespace kv::cli
