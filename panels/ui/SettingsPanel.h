#pragma once
// The "Impostazioni" panel: address, port, time-out, default root, automatic
// start and window mode, all on the settings row; the address box's list of
// the PC's addresses, "Mostra IP" and "Reset"; the FTPS, SFTP, router,
// speed limits and actions groups and "Altre opzioni" over the options table. Every box is
// judged by the option catalog as the command line judges it: a refused text
// stays, marked, and is never kept (CheckedBox).

#include "panels/logic/NetworkSettingsLogic.h"
#include "panels/logic/SettingsRowEdit.h"
#include "panels/logic/StartupDefaults.h"

#include <QObject>
#include <functional>
#include <memory>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace kv::ui {

class CheckedBox;
class DefaultRootGroup;
class PanelHost;
class ViewBinder;

class SettingsPanel : public QObject {
    Q_OBJECT
public:
    // Builds the controls into `panel` and fills the address list once.
    SettingsPanel(QWidget* panel, PanelHost& host);
    ~SettingsPanel() override;

    // Where the PC's adapters come from (tests give their own).
    void setAdapterSource(std::function<QList<admin::Adapter>()> source) {
        adapters_ = std::move(source);
    }

    // Rebuilds the address box's list, keeping its text ("Default" when empty).
    void CaricaIP(bool reset);
    void cmdResetIP_Click();
    void cmdMostraIP_Click();

    // The default root kept in the row.
    QString rootText() const;
    // The port list ("cboPorta"): its entries, and the start-up choice shown in it.
    QStringList portEntries() const;
    void showPortChoice(const PortChoice& port);

private:
    void buildNetwork(QWidget* panel, int& top);
    void buildStart(QWidget* panel, int& top);
    CheckedBox* checkRowBox(QLineEdit* box, const QString& column, int& top);
    CheckedBox* checkRowBox(QComboBox* box, const QString& column, int& top);
    void reloadRowBoxes();
    void setAddressList(const admin::AddressBox& box);
    void updateMostraIP();
    void txtWindow_Change(const QString& text);

    QWidget* panel_;
    PanelHost& host_;
    std::unique_ptr<admin::SettingsRowEdit> row_;
    ViewBinder* binder_ = nullptr;
    QComboBox* cboIP_ = nullptr;
    QPushButton* cmdMostraIP_ = nullptr;
    QComboBox* cboPorta_ = nullptr;
    QLineEdit* txtWindow_ = nullptr;
    QRadioButton* optWindow_[2] = {nullptr, nullptr};
    CheckedBox* ipBox_ = nullptr;
    CheckedBox* portBox_ = nullptr;
    QList<CheckedBox*> rowBoxes_;
    DefaultRootGroup* root_ = nullptr;
    std::function<QList<admin::Adapter>()> adapters_ = admin::systemAdapters;
};

} // namespace kv::ui
