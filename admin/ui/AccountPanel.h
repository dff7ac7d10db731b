#pragma once
// The "Account" panel: the account grid with its cover, the account's details
// (bound to the users view), the anonymous account (bound to the anonymous
// view), the root pickers and the buttons that open the virtual folder editor.

#include "admin/logic/AccountPanelLogic.h"

#include <QObject>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QWidget;

namespace kv::access {
class DataView;
}

namespace kv::ui {

class PanelHost;
class ViewBinder;

class AccountPanel : public QObject {
    Q_OBJECT
public:
    // Fills `panel` (the window's "Account" container) with the panel's controls.
    AccountPanel(QWidget* panel, PanelHost& host);

    admin::AccountPanelLogic& logic() { return logic_; }

    // How the virtual folder editor is opened for an owner; by default a modal
    // frmVirtualDir over the main window.
    void setEditorOpener(std::function<void(int owner)> open) { openEditor_ = std::move(open); }

    // Follows the current account: groups, grid selection and cover.
    void Data1_Reposition();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildAccountList(int& top);
    void buildDetails(int& top);
    void buildAnonymous(int& top);
    QWidget* buildRootGroup(int index, QLineEdit*& box, const QString& boxName,
                            const QString& browseName, const QString& defaultName,
                            const QString& overlayName, int& top);
    QWidget* buildPermissionGroup(int index, const QString& caption,
                                  const QList<QPair<QString, QString>>& boxes, int& top);
    void browseRoot(QLineEdit* box, const QString& prompt);
    void selectGridRow(int row);
    void updateCover();
    void openEditor(int owner);

    QWidget* panel_;
    PanelHost& host_;
    access::DataView& users_;
    access::DataView& anonymous_;
    admin::AccountPanelLogic logic_;
    ViewBinder* usersBinder_ = nullptr;
    ViewBinder* anonymousBinder_ = nullptr;
    QTableView* grid_ = nullptr;
    QWidget* cover_ = nullptr;
    QLineEdit* txtUserRoot_ = nullptr;
    QLineEdit* txtUserRootAnon_ = nullptr;
    QList<QWidget*> accountGroups_;
    std::function<void(int)> openEditor_;
    bool syncingGrid_ = false;
};

} // namespace kv::ui
