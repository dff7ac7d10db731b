// The server subcommands: ip (the allow and block lists), option (the
// options table) and settings (the settings row).
#include "access/SettingsService.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"
#include "settings/OptionCatalog.h"
#include "settings/SharedRoot.h"

namespace kv::cli {

namespace {

const QString kJson = QStringLiteral("json");
const QString kWholeDisk = settings::kWholeDiskFlag.mid(2);

int ipList(CliContext& c, access::AddressList list) {
    CliTable out{{QStringLiteral("voce")}, {}};
    for (const QString& entry : access::SettingsService(c.db).listEntries(list))
        out.rows << QStringList{entry};
    printTable(c.io.out, out, c.json());
    return kDone;
}

int ipAdd(CliContext& c, access::AddressList list, const QString& entry) {
    // Judged as the Sicurezza panel judges a typed entry.
    if (const auto refusal = access::SettingsService(c.db).addListEntry(list, entry))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("\"%1\" aggiunto alla lista").arg(entry.trimmed()));
}

int ipDel(CliContext& c, access::AddressList list, const QString& entry) {
    if (const auto refusal = access::SettingsService(c.db).removeListEntry(list, entry))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("\"%1\" tolto dalla lista").arg(entry.trimmed()));
}

int ipSwitch(CliContext& c, access::AddressList list, bool on) {
    if (const auto refusal = access::SettingsService(c.db).setListOn(list, on))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("Lista %1 %2")
                       .arg(access::tableOf(list),
                            on ? QStringLiteral("attiva") : QStringLiteral("disattivata")));
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

int optionSet(CliContext& c, access::SettingsService& service, const QString& name,
              const QString& text) {
    QString stored;
    if (const auto refusal = service.setOption(name, text, &stored))
        return refuse(c, *refusal);
    return done(c,
                QStringLiteral("%1 = %2").arg(
                    name, settings::shownValue(*service.options().catalog().find(name), stored)));
}

int optionUnset(CliContext& c, access::SettingsService& service, const QString& name) {
    if (const auto refusal = service.unsetOption(name))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("%1 torna al valore predefinito").arg(name));
}

int settingsShow(CliContext& c) {
    CliTable out{
        {QStringLiteral("impostazione"), QStringLiteral("valore"), QStringLiteral("descrizione")},
        {}};
    for (const auto& [name, value] : access::SettingsService(c.db).settingsRow())
        out.rows << QStringList{
            name, value,
            settings::optionCatalog().find(name, settings::OptionStore::SettingsRow)->caption};
    printTable(c.io.out, out, c.json());
    return kDone;
}

int settingsSet(CliContext& c, const QString& field, const QString& value) {
    QString stored;
    if (const auto refusal =
            access::SettingsService(c.db).setSetting(field, value, c.args.has(kWholeDisk), &stored))
        return refuse(c, *refusal);
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
    const access::AddressList table =
        list == QLatin1String("allow") ? access::AddressList::Allow : access::AddressList::Block;
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
    access::SettingsService service(c.db);
    access::OptionsTable& options = service.options();
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
        return optionSet(c, service, w[1], w[2]);
    if (action == QLatin1String("unset") && w.size() == 2)
        return optionUnset(c, service, w[1]);
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
