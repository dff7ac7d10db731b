#pragma once
// The switches of the "Sicurezza" panel's address lists (allow: IPok, block:
// IPko). A change is saved at once in the settings row through the settings
// service, not left pending like the other settings: the server, whichever
// program runs it, obeys the switch as stored from its next login. The
// settings view is read again afterwards, so the panels show the row as saved
// (its own pending edits are saved first, as leaving the row saves them).

#include "access/SettingsService.h"

#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace kv::access {
class DataView;
}

namespace kv::admin {

class ListSwitchLogic {
public:
    ListSwitchLogic(access::DataView& settingsRow, QSqlDatabase db);

    // The switch as the settings view holds it: on, off, or nullopt for a
    // null field (a greyed box, which counts as on).
    std::optional<bool> shown(access::AddressList list) const;
    // Whether the list is in force as stored.
    bool isOn(access::AddressList list) const;
    // Saves the switch; the reason when the file refused it.
    std::optional<QString> save(access::AddressList list, bool on);

private:
    access::DataView& settingsRow_;
    access::SettingsService settings_;
};

} // namespace kv::admin
