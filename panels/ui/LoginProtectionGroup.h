#pragma once
// The "Protezione dagli accessi ripetuti" group of the Sicurezza panel: thin
// widgets over LoginProtectionLogic. One box per option, checked as every
// settings box is (CheckedBox), and the list "Indirizzi bloccati temporaneamente" with "Sblocca",
// refreshed when a ban starts or ends and every few seconds for the minutes left.

#include "panels/logic/LoginProtectionLogic.h"

#include <QList>
#include <QObject>
#include <QTimer>

class QLineEdit;
class QPushButton;
class QTableWidget;
class QWidget;

namespace kv::ui {

class CheckedBox;
class PanelHost;

class LoginProtectionGroup : public QObject {
    Q_OBJECT
public:
    // Builds the controls into `panel` from `top` (advanced past them).
    LoginProtectionGroup(QWidget* panel, PanelHost& host, int& top);

    // Shows the kept values again and the bans in force now.
    void load();
    void refreshBans();
    // The banned addresses of a server the window is attached to (null: its own).
    void setServer(ServerSource* server);

private:
    void buildList(QWidget* panel, int& top);

    PanelHost& host_;
    admin::LoginProtectionLogic logic_;
    QList<CheckedBox*> boxes_;
    QTableWidget* list_ = nullptr;
    QPushButton* unblock_ = nullptr;
    QTimer tick_;
    QMetaObject::Connection serverBans_;
};

} // namespace kv::ui
