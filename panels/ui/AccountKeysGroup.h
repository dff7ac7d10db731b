#pragma once
// The Account panel's "Chiavi SFTP" group: the current account's public keys
// and the buttons that add one from a .pub file and remove the selected one.
// What they do is AccountKeysLogic's.

#include "panels/logic/AccountKeysLogic.h"

#include <QObject>

class QTableWidget;
class QWidget;

namespace kv::access {
class DataView;
}

namespace kv::ui {

class PanelHost;

class AccountKeysGroup : public QObject {
    Q_OBJECT
public:
    // Adds the group to `panel` at `top` (advanced past it).
    AccountKeysGroup(QWidget* panel, PanelHost& host, access::DataView& users, int index, int& top);

    QWidget* group() const { return group_; }
    admin::AccountKeysLogic& logic() { return logic_; }
    // Shows the keys of the account now current.
    void refresh() { logic_.refresh(); }

private:
    void showRows();
    void addFromFile();

    QWidget* panel_;
    PanelHost& host_;
    admin::AccountKeysLogic logic_;
    QWidget* group_ = nullptr;
    QTableWidget* list_ = nullptr;
};

} // namespace kv::ui
