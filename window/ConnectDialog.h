#pragma once
// "Connetti a un server...": the address, port and password of a remote
// server to administer, with the servers connected to before offered (kept
// per user, newest first). The chosen server opens in a new window of its
// own (startRemoteWindow): this window and its server stay as they are.

#include "adminchannel/RemoteAdmin.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace kv {
class SettingsStore;
}

namespace kv::ui {

// The servers connected to before, newest first ("host:port").
QStringList recentServers(const SettingsStore& store);
// Puts `server` first among the recent ones (at most kRecentServers kept).
void rememberRecentServer(SettingsStore& store, const RemoteServerAddress& server);
inline constexpr int kRecentServers = 8;

// Starts this program again as `kestrova --remote HOST:PORT
// --admin-password-file -`, the password written to its standard input;
// the Italian reason when it cannot start. The new process goes on after
// this one ends.
std::optional<QString> startRemoteWindow(const RemoteServerAddress& server,
                                         const QString& password);

class ConnectDialog : public QDialog {
    Q_OBJECT
public:
    explicit ConnectDialog(const QStringList& recent, QWidget* parent = nullptr);

    // Valid once accepted.
    RemoteServerAddress server() const { return server_; }
    QString password() const;

    void accept() override;

private:
    void onServerTextChanged(const QString& text);

    QComboBox* server_box_ = nullptr;
    QSpinBox* port_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLabel* problem_ = nullptr;
    RemoteServerAddress server_;
};

} // namespace kv::ui
