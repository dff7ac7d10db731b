#pragma once
// A server that another program runs on the window's data folder (the
// system service, a headless server, another window), seen through its
// administration channel: the status once, then the subscription for log
// lines and session events, and the sessions (with their byte counters) and
// bans asked for once a second, since events do not carry those counters.

#include "adminchannel/AdminConnection.h"
#include "core/DataFolder.h"
#include "core/ServerSource.h"

#include <QHash>
#include <QJsonObject>
#include <QTimer>

namespace kv {

// The user the system service runs as (its data folder is kServiceDataFolder).
inline const QString kServiceUser = QStringLiteral("kestrova");

// Whether a status answer comes from the system service: its user, or its
// data folder `serviceFolder`.
bool isServiceStatus(const QJsonObject& status, const QString& serviceFolder = kServiceDataFolder);
// Which server a status answer describes, for the log: "(servizio di
// sistema)" or "(altra finestra o server senza finestra, PID n)".
QString attachedServerDescription(const QJsonObject& status,
                                  const QString& serviceFolder = kServiceDataFolder);
// The same in a few words, for the status bar: "(servizio)" or "(PID n)".
QString attachedServerShortDescription(const QJsonObject& status,
                                       const QString& serviceFolder = kServiceDataFolder);

class AttachedServer : public ServerSource {
    Q_OBJECT
public:
    static constexpr int kPollMs = 1000;

    explicit AttachedServer(QObject* parent = nullptr);

    // Connects to `socketPath`; attached() or unavailable() follows.
    void attach(const QString& socketPath);
    // Leaves the server alone and forgets it (no gone()).
    void detach();
    bool isAttached() const { return attached_; }
    // The status answer it attached with (address, port, pid, user, ...).
    const QJsonObject& status() const { return status_; }

    // Asks the server to reread its settings; reloadAnswered() follows.
    void reload();
    // Bans `address` for `minutes` (0: the server's own default).
    void ban(const QString& address, qint64 minutes = 0);

    int sessionCount() const override { return int(sessions_.size()); }
    QList<monitor::OnlineRow> onlineRows(const QString& defaultRoot) const override;
    QList<Live> liveReadings() const override;
    void disconnectSession(const QString& key) override;
    QList<session::BanEntry> bans() const override { return bans_; }
    void unban(const QString& address) override;

Q_SIGNALS:
    void attached();
    // No server answers there, or it refused us; `reason` in Italian.
    void unavailable(kv::AdminConnection::Failure failure, const QString& reason);
    // The channel closed while attached.
    void gone(const QString& reason);
    void logLine(const QString& line);
    // The answer to reload(): applied, or the reason it was not.
    void reloadAnswered(bool applied, const QString& reason);
    // A request was refused ("ok" false): the server's reason.
    void refused(const QString& reason);

private:
    struct Session {
        quint64 id = 0;
        QString login;
        QString address;
        QString root;
        QString rights;
        session::TransferActivity activity;
        QString refused; // why its last login was refused
    };
    void onConnected();
    void onEvent(const QJsonObject& event);
    void onClosed();
    void poll();
    void askSessions();
    void askBans();
    // Sends `request`; `done` gets the answer when it is "ok", refused() the reason otherwise.
    void ask(const QJsonObject& request, std::function<void(const QJsonObject&)> done);

    AdminConnection connection_;
    QTimer poll_;
    QJsonObject status_;
    QList<Session> sessions_;
    QList<session::BanEntry> bans_;
    bool attached_ = false;
    bool sessionsAsked_ = false; // one sessions request at a time
};

} // namespace kv
