#pragma once
// The "Connessioni dall'esterno (router/NAT)" group of the settings panel:
// thin widgets over RouterSettingsLogic. A change the logic refuses is shown
// with the catalog's message and the box goes back to the value kept.

#include "admin/logic/RouterSettingsLogic.h"

#include <QObject>
#include <functional>

class QLabel;
class QLineEdit;
class QWidget;

namespace kv::ui {

class PanelHost;

class RouterGroup : public QObject {
    Q_OBJECT
public:
    // Builds the controls into `panel` from `top` (advanced past them);
    // `controlPort` gives the port box's text for the forwarding advice.
    RouterGroup(QWidget* panel, PanelHost& host, int& top, std::function<QString()> controlPort);

    // Shows the kept values again and the advice for them.
    void load();
    void refreshAdvice();

private:
    void connectBox(QLineEdit* box, const QString& option);

    PanelHost& host_;
    admin::RouterSettingsLogic logic_;
    std::function<QString()> controlPort_;
    bool loading_ = false;
    QLineEdit* ports_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLabel* advice_ = nullptr;
};

} // namespace kv::ui
