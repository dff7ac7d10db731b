#include "access/ListSwitches.h"

#include "access/DataView.h"

namespace kv::access {

bool SettingsSwitchOn(const DataView& settings, const QString& field) {
    if (!settings.hasCurrentRow())
        return false;
    const QVariant value = settings.value(field);
    if (value.isNull())
        return true;
    return value.toBool();
}

bool SettingsRowListSwitches::BlockListOn() const {
    return SettingsSwitchOn(settings_, QStringLiteral("IPko"));
}

bool SettingsRowListSwitches::AllowListOn() const {
    return SettingsSwitchOn(settings_, QStringLiteral("IPok"));
}

} // namespace kv::access
