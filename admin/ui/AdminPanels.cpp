#include "admin/ui/AdminPanels.h"

#include "access/AccountDatabase.h"
#include "admin/logic/IpListLogic.h"
#include "admin/ui/AccountPanel.h"
#include "admin/ui/PanelHost.h"
#include "admin/ui/SecurityPanel.h"
#include "admin/ui/SettingsPanel.h"

namespace kv::ui {

void buildAccountPanel(QWidget* panel, PanelHost& host) {
    new AccountPanel(panel, host);
}

void buildSettingsPanel(QWidget* panel, PanelHost& host) {
    new SettingsPanel(panel, host);
}

void buildSecurityPanel(QWidget* panel, PanelHost& host) {
    new SecurityPanel(panel, host);
}

void AutorizzaIPUtente(PanelHost& host) {
    admin::addClientAddress(host.views().DataIP(0), host.selectedOnlineAddress(), host.messages());
}

void BloccaIPUtente(PanelHost& host) {
    admin::addClientAddress(host.views().DataIP(1), host.selectedOnlineAddress(), host.messages());
}

} // namespace kv::ui
