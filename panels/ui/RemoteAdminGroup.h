#pragma once
// The Impostazioni panel's "Amministrazione remota" group: the port (0 =
// off), the address, the allowed addresses, whether remote administrators
// may manage program rules, each checked through the option catalog as
// every settings box is, and the administration certificate's fingerprint,
// selectable, for the operator to compare with what a client shows.

#include <QList>
#include <QObject>

class QCheckBox;
class QLabel;
class QWidget;

namespace kv::ui {

class CheckedBox;
class PanelHost;

class RemoteAdminGroup : public QObject {
    Q_OBJECT
public:
    RemoteAdminGroup(QWidget* panel, PanelHost& host, int& top);

    // Shows the kept values and the fingerprint again.
    void load();

private:
    PanelHost& host_;
    QList<CheckedBox*> boxes_;
    QCheckBox* actions_ = nullptr;
    QLabel* fingerprint_ = nullptr;
};

} // namespace kv::ui
