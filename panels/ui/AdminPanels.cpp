// Builds the administration panels and the online panel's list actions.
#include "panels/ui/AdminPanels.h"

#include "access/AccountDatabase.h"
#include "access/DataView.h"
#include "panels/logic/IpListLogic.h"
#include "panels/logic/ListSwitchLogic.h"
#include "panels/ui/AccountPanel.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/SecurityPanel.h"
#include "panels/ui/SettingsPanel.h"

namespace kv::ui {

AccountPanel* buildAccountPanel(QWidget* panel, PanelHost& host) {
    return new AccountPanel(panel, host);
}

SettingsPanel* buildSettingsPanel(QWidget* panel, PanelHost& host) {
    return new SettingsPanel(panel, host);
}

SecurityPanel* buildSecurityPanel(QWidget* panel, PanelHost& host) {
    return new SecurityPanel(panel, host);
}

void AutorizzaIPUtente(PanelHost& host) {
    admin::addClientAddress(host.views().DataIP(0), host.selectedOnlineAddress(), host.messages());
}

void BloccaIPUtente(PanelHost& host) {
    const std::optional<QString> address = host.selectedOnlineAddress();
    if (admin::addClientAddress(host.views().DataIP(1), address, host.messages()) !=
        admin::AddAddressResult::Added)
        return;
    // An entry on a list that is off does nothing: the operator is told so.
    admin::ListSwitchLogic switches(host.views().Data2(), host.connection());
    if (!host.views().Data2().hasCurrentRow() || switches.isOn(access::AddressList::Block))
        return;
    if (!host.messages().confirm(admin::blockListOffQuestion(*address)))
        return;
    if (const auto refusal = switches.save(access::AddressList::Block, true))
        host.messages().show(*refusal, MessageIcon::Exclamation);
}

} // namespace kv::ui
