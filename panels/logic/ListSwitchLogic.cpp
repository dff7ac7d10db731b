#include "panels/logic/ListSwitchLogic.h"

#include "access/DataView.h"

namespace kv::admin {

ListSwitchLogic::ListSwitchLogic(access::DataView& settingsRow, QSqlDatabase db)
    : settingsRow_(settingsRow), settings_(std::move(db)) {}

std::optional<bool> ListSwitchLogic::shown(access::AddressList list) const {
    if (!settingsRow_.hasCurrentRow())
        return false;
    const QVariant value = settingsRow_.value(access::tableOf(list));
    if (value.isNull())
        return std::nullopt;
    return value.toBool();
}

bool ListSwitchLogic::isOn(access::AddressList list) const {
    return settings_.listOn(list);
}

std::optional<QString> ListSwitchLogic::save(access::AddressList list, bool on) {
    // Pending edits of the row go first, so reading it again loses none.
    if (settingsRow_.isDirty() && !settingsRow_.Update())
        return settingsRow_.lastErrorText();
    if (const auto refusal = settings_.setListOn(list, on))
        return refusal;
    settingsRow_.Refresh();
    return std::nullopt;
}

} // namespace kv::admin
