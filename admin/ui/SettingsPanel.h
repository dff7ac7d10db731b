#pragma once
// The "Impostazioni" panel: address, port, time-out, default root, automatic
// start and window mode, all bound to the settings row; the address box's
// list of the PC's addresses, "Mostra IP" and "Reset"; the FTPS and router
// groups over the options table.

#include "admin/logic/NetworkSettingsLogic.h"
#include "admin/logic/StartupDefaults.h"

#include <QObject>
#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace kv::ui {

class PanelHost;
class ViewBinder;

class SettingsPanel : public QObject {
    Q_OBJECT
public:
    // Builds the controls into `panel` and fills the address list once.
    SettingsPanel(QWidget* panel, PanelHost& host);

    // Where the PC's adapters come from (tests give their own).
    void setAdapterSource(std::function<QList<admin::Adapter>()> source) {
        adapters_ = std::move(source);
    }

    // Rebuilds the address box's list, keeping its text ("Default" when empty).
    void CaricaIP(bool reset);
    void cmdResetIP_Click();
    void cmdMostraIP_Click();

    // The default root box ("txtRoot"): its text, and a root put in when empty.
    QString rootText() const;
    void fillEmptyRoot(const QString& root);
    // The port list ("cboPorta"): its entries, and the start-up choice shown in it.
    QStringList portEntries() const;
    void showPortChoice(const PortChoice& port);

private:
    void setAddressList(const admin::AddressBox& box);
    void updateMostraIP();
    void txtWindow_Change(const QString& text);
    // A box of the settings row refuses a value the catalog refuses when the
    // operator leaves it: the message says why and the box shows again the
    // value it held before the typing.
    void refuseInvalid(QLineEdit* box, const QString& column);

    QWidget* panel_;
    PanelHost& host_;
    ViewBinder* binder_ = nullptr;
    QComboBox* cboIP_ = nullptr;
    QPushButton* cmdMostraIP_ = nullptr;
    QComboBox* cboPorta_ = nullptr;
    QLineEdit* txtRoot_ = nullptr;
    QLineEdit* txtWindow_ = nullptr;
    QRadioButton* optWindow_[2] = {nullptr, nullptr};
    std::function<QList<admin::Adapter>()> adapters_ = admin::systemAdapters;
};

} // namespace kv::ui
