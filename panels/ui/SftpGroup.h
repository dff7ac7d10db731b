#pragma once
// The Impostazioni panel's "SFTP" group: thin widgets over SftpSettingsLogic.
// The SFTP port (0 = off), checked as every settings box is; password logins
// on or off; a line saying whether SFTP is on; and the host key fingerprints
// (SftpHostKeysGroup).

#include "panels/logic/SftpSettingsLogic.h"

#include <QObject>

class QCheckBox;
class QLabel;
class QWidget;

namespace kv::ui {

class CheckedBox;
class PanelHost;

class SftpGroup : public QObject {
    Q_OBJECT
public:
    SftpGroup(QWidget* panel, PanelHost& host, int& top);

    // Shows the kept values again.
    void load();

private:
    void refreshState();

    admin::SftpSettingsLogic logic_;
    CheckedBox* port_ = nullptr;
    QCheckBox* passwords_ = nullptr;
    QLabel* state_ = nullptr;
};

} // namespace kv::ui
