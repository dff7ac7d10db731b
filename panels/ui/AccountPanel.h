#pragma once
// The "Account" panel: the account grid (AccountGrid), the account's details
// (bound to the users view) with the line saying what the account can do, the
// anonymous account (bound to the anonymous view), the root pickers, the
// buttons that open the virtual folder editor, the account's SFTP keys and
// the "Limiti" groups of an account and of the anonymous account.
// The login and the roots are checked boxes (CheckedBox), whose refusals the
// status line says.

#include "panels/logic/AccountLimitsLogic.h"
#include "panels/logic/AccountPanelLogic.h"

#include <QObject>
#include <functional>

class QLabel;
class QLineEdit;
class QWidget;

namespace kv::access {
class DataView;
}

namespace kv::ui {

class AccountGrid;
class AccountKeysGroup;
class AccountLimitsGroup;
class CheckedBox;
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

    // Where the "Limiti" groups find the space an account uses and the
    // accounts whose folders overlap its own (the quota's bookkeeping).
    void setQuotaSources(const admin::QuotaUsageSource& usage,
                         const admin::OverlapSource& overlaps);

    // Follows the current account: groups, grid selection and cover.
    void Data1_Reposition();
    // Enables the groups that edit the current account only while there is one.
    void enableAccountGroups();
    // The status line: what the current account can do, or why a typed value
    // was refused.
    void showStatus();

private:
    void buildDetails(int& top);
    void buildAnonymous(int& top);
    struct RootNames {
        int index;
        QString box, browse, reset, overlay, prompt;
    };
    QWidget* buildRootGroup(access::DataView& view, const admin::FieldEdit::Apply& apply,
                            const RootNames& names, CheckedBox*& checked, int& top);
    CheckedBox* checkedBox(QLineEdit* box, access::DataView& view, const QString& field,
                           admin::FieldEdit::Apply apply);
    QWidget*
    buildVirtualDirsGroup(int index, const QString& name, const QString& text,
                          void (admin::AccountPanelLogic::*open)(const std::function<void(int)>&),
                          int& top);
    void openEditor(int owner);

    QWidget* panel_;
    PanelHost& host_;
    access::DataView& users_;
    access::DataView& anonymous_;
    admin::AccountPanelLogic logic_;
    ViewBinder* usersBinder_ = nullptr;
    ViewBinder* anonymousBinder_ = nullptr;
    AccountGrid* grid_ = nullptr;
    AccountKeysGroup* keys_ = nullptr;
    AccountLimitsGroup* limits_ = nullptr;
    AccountLimitsGroup* anonymousLimits_ = nullptr;
    QLabel* status_ = nullptr;
    CheckedBox* login_ = nullptr;
    CheckedBox* root_ = nullptr;
    CheckedBox* anonymousRoot_ = nullptr;
    QString gridRefusal_; // why the login typed in the grid was refused
    QList<QWidget*> accountGroups_;
    std::function<void(int)> openEditor_;
};

} // namespace kv::ui
