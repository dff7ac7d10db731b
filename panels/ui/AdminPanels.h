#pragma once
// The administration panels of the main window: each builder fills the panel
// container the window made ("Account", "Impostazioni", "Sicurezza").

class QWidget;

namespace kv::ui {

class AccountPanel;
class PanelHost;
class SecurityPanel;
class SettingsPanel;

// Each returns the panel it built; it belongs to (and goes with) `panel`.
AccountPanel* buildAccountPanel(QWidget* panel, PanelHost& host);
SettingsPanel* buildSettingsPanel(QWidget* panel, PanelHost& host);
SecurityPanel* buildSecurityPanel(QWidget* panel, PanelHost& host);

// The online panel's "Autorizza" and "Blocca": put the selected client's
// address on the allow (IPok) or block (IPko) list.
void AutorizzaIPUtente(PanelHost& host);
void BloccaIPUtente(PanelHost& host);

} // namespace kv::ui
