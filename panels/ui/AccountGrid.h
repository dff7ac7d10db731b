#pragma once
// The account list of the "Account" panel: the grid of logins and masked
// passwords over the users view, the cover over its empty rows, and the "Nuovo
// account"/"Elimina account" buttons. The grid follows the current account
// and moving in it moves the account; entering it saves the account.

#include <QObject>

class QTableView;
class QWidget;

namespace kv::access {
class DataView;
}

namespace kv::admin {
class AccountPanelLogic;
}

namespace kv::ui {

class AccountGrid : public QObject {
    Q_OBJECT
public:
    // Adds the group ("picGrid") to `panel` at `top`, which advances past it.
    AccountGrid(QWidget* panel, access::DataView& users, admin::AccountPanelLogic& logic, int& top);

    QTableView* grid() const { return grid_; }

    // Selects the current account's row (none without one) and fits the cover.
    void showCurrent();
    void updateCover();

Q_SIGNALS:
    // A row chosen in the grid was made current (or refused, keeping the old one).
    void rowChosen();
    // A login typed in the grid was refused (its reason), or its editor closed ("").
    void refusalChanged(const QString& reason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectRow(int row);

    access::DataView& users_;
    admin::AccountPanelLogic& logic_;
    QTableView* grid_ = nullptr;
    QWidget* cover_ = nullptr;
    bool syncing_ = false;
};

} // namespace kv::ui
