// Builds the administration panels and the online panel's list actions.
#include "admin/ui/AdminPanels.h"

#include "access/AccountDatabase.h"
#include "admin/logic/IpListLogic.h"
#include "admin/ui/AccountPanel.h"
#include "admin/ui/PanelHost.h"
#include "admin/ui/SecurityPanel.h"
#include "admin/ui/SettingsPanel.h"

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
    admin::addClientAddress(host.views().DataIP(1), host.selectedOnlineAddress(), host.messages());
}

} // namespace kv::ui
