// The rows of "Altre opzioni", taken from the option catalog.
#include "panels/logic/OptionsPageLogic.h"

#include "panels/logic/AcmeStateText.h"
#include "panels/logic/ActionRulesLogic.h"
#include "panels/logic/FtpsSettingsLogic.h"
#include "panels/logic/LoginProtectionLogic.h"
#include "panels/logic/OptionEdit.h"
#include "panels/logic/RouterSettingsLogic.h"
#include "panels/logic/SftpSettingsLogic.h"
#include "panels/logic/SpeedLimitsLogic.h"

namespace kv::admin {

using settings::OptionStore;

namespace {

QString defaultText(const settings::OptionDef& def) {
    return def.defaultValue.isEmpty() ? QStringLiteral("vuoto") : def.defaultValue;
}

} // namespace

OptionsPageLogic::OptionsPageLogic(access::OptionsTable& table, access::DataView& row)
    : table_(table), settingsRow_(row, table.catalog()) {}

const QStringList& OptionsPageLogic::shownElsewhere() {
    using namespace settings::setting;
    static const QStringList names = [] {
        QStringList all = {kIp, kPort, kRootDir, kTimeout, kStart, kMinimized, kIpOk, kIpKo, kLog};
        all << FtpsSettingsLogic::options() << acmeOptions() << RouterSettingsLogic::options()
            << SftpSettingsLogic::options() << LoginProtectionLogic::options()
            << ActionRulesLogic::options() << SpeedLimitsLogic::options();
        // The "Amministrazione remota" group of the Impostazioni panel.
        using namespace settings::option;
        all << kAdminPort << kAdminAddress << kAdminAllowed << kAdminRemoteActions;
        return all;
    }();
    return names;
}

QList<OptionRow> OptionsPageLogic::rows() const {
    QList<OptionRow> rows;
    for (const OptionStore store : {OptionStore::SettingsRow, OptionStore::Options}) {
        for (const settings::OptionDef& def : table_.catalog().options(store)) {
            if (shownElsewhere().contains(def.name))
                continue;
            const QString caption =
                QStringLiteral("%1 (predefinito: %2)").arg(def.caption, defaultText(def));
            rows.append({def.name, store, caption, def.writeOnly});
        }
    }
    return rows;
}

QString OptionsPageLogic::shown(const OptionRow& row) const {
    if (row.store == OptionStore::SettingsRow)
        return settingsRow_.shown(row.name);
    return optionShower(table_, row.name)();
}

QString OptionsPageLogic::placeholder(const OptionRow& row) const {
    if (row.writeOnly && row.store == OptionStore::Options && !table_.value(row.name).isEmpty())
        return settings::kWriteOnlyMask;
    return {};
}

std::optional<QString> OptionsPageLogic::change(const OptionRow& row, const QString& text) {
    const EditVerdict verdict = applier(row)(text, EditStep::Typing);
    if (verdict.isKept())
        return std::nullopt;
    return verdict.reason;
}

FieldEdit::Apply OptionsPageLogic::applier(const OptionRow& row) {
    if (row.store == OptionStore::SettingsRow)
        return settingsRow_.applier(row.name);
    return optionApplier(table_, row.name);
}

FieldEdit::Shown OptionsPageLogic::shower(const OptionRow& row) const {
    if (row.store == OptionStore::SettingsRow)
        return settingsRow_.shower(row.name);
    return optionShower(table_, row.name);
}

} // namespace kv::admin
