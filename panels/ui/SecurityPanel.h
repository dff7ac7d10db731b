#pragma once
// The "Sicurezza" panel: the allow list (IPok) and the block list (IPko),
// each with its switch bound to the settings row, and the protection from
// repeated logins (connection limits, bans and the banned addresses). The switches answer the
// login decision as they stand on the screen (ticked or greyed counts as on).

#include "access/ListSwitches.h"

#include <QObject>
#include <QPointer>

class QCheckBox;
class QWidget;

namespace kv::ui {

class IpListGroup;
class LoginProtectionGroup;
class PanelHost;
class ViewBinder;

class SecurityPanel : public QObject, public access::ListSwitches {
    Q_OBJECT
public:
    SecurityPanel(QWidget* panel, PanelHost& host);
    ~SecurityPanel() override;

    IpListGroup* list(int index) const { return lists_[index]; }
    LoginProtectionGroup* protection() const { return protection_; }

    bool BlockListOn() const override;
    bool AllowListOn() const override;

private:
    PanelHost& host_;
    ViewBinder* binder_ = nullptr;
    QPointer<QCheckBox> chkIPok_;
    QPointer<QCheckBox> chkIPko_;
    IpListGroup* lists_[2] = {nullptr, nullptr};
    LoginProtectionGroup* protection_ = nullptr;
};

} // namespace kv::ui
