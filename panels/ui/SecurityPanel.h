#pragma once
// The "Sicurezza" panel: the allow list (IPok) and the block list (IPko),
// each with its switch, saved in the settings row as soon as it is clicked
// (panels/logic/ListSwitchLogic.h), and the protection from repeated logins
// (connection limits, bans and the banned addresses).

#include "panels/logic/ListSwitchLogic.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QCheckBox;
class QWidget;

namespace kv::ui {

class IpListGroup;
class LoginProtectionGroup;
class PanelHost;
class SecurityPanel : public QObject {
    Q_OBJECT
public:
    SecurityPanel(QWidget* panel, PanelHost& host);
    ~SecurityPanel() override;

    IpListGroup* list(int index) const { return lists_[index]; }
    LoginProtectionGroup* protection() const { return protection_; }

private:
    // The boxes show the settings row as the view holds it.
    void showSwitches();
    void switchClicked(QCheckBox* box, access::AddressList list);

    PanelHost& host_;
    std::unique_ptr<admin::ListSwitchLogic> switches_;
    QPointer<QCheckBox> boxes_[2];
    IpListGroup* lists_[2] = {nullptr, nullptr};
    LoginProtectionGroup* protection_ = nullptr;
};

} // namespace kv::ui
