#include "admin/ui/AdminPanels.h"

#include "app/ui/PanelHost.h"

namespace kv::ui {

void buildAccountPanel(QWidget*, PanelHost&) {}
void buildSettingsPanel(QWidget*, PanelHost&) {}
void buildSecurityPanel(QWidget*, PanelHost&) {}
void AutorizzaIPUtente(PanelHost&) {}
void BloccaIPUtente(PanelHost&) {}

} // namespace kv::ui
