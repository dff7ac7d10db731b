#pragma once
// The "Connessioni dall'esterno (router/NAT)" group of the settings panel:
// thin widgets over RouterSettingsLogic, its boxes checked as every settings
// box is (CheckedBox).

#include "panels/logic/RouterSettingsLogic.h"

#include <QList>
#include <QObject>
#include <functional>

class QLabel;
class QLineEdit;
class QWidget;

namespace kv::ui {

class CheckedBox;
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
    void checkBox(QLineEdit* box, const QString& option, QWidget* panel, int& top);

    PanelHost& host_;
    admin::RouterSettingsLogic logic_;
    std::function<QString()> controlPort_;
    QList<CheckedBox*> boxes_;
    QLabel* advice_ = nullptr;
};

} // namespace kv::ui
