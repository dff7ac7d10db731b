#include "access/ListSwitches.h"

#include "access/DataView.h"
#include "access/SettingsService.h"

namespace kv::access {

bool SettingsSwitchOn(const DataView& settings, const QString& field) {
    if (!settings.hasCurrentRow())
        return false;
    const QVariant value = settings.value(field);
    if (value.isNull())
        return true;
    return value.toBool();
}

// A switch that cannot be read counts as on: the list itself is then looked
// up, and a file that cannot be read leaves the login undecided rather than
// letting a listed address in.
bool StoredListSwitches::BlockListOn() const {
    return SettingsService(db_).listInForce(AddressList::Block).value_or(true);
}

bool StoredListSwitches::AllowListOn() const {
    return SettingsService(db_).listInForce(AddressList::Allow).value_or(true);
}

} // namespace kv::access
