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

bool StoredListSwitches::BlockListOn() const {
    return SettingsService(db_).listOn(AddressList::Block);
}

bool StoredListSwitches::AllowListOn() const {
    return SettingsService(db_).listOn(AddressList::Allow);
}

} // namespace kv::access
