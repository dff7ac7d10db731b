#pragma once
// A server that another program runs on the window's data folder (the
// system service, a headless server, another window), seen through its
// administration channel: the status once, then the subscription for log
// lines and events, then the sessions and bans once; from then on the events
// keep them (sessions coming, logging in and going, their transfers and byte
// counters, bans made and lifted), without asking again until it attaches
// anew.

#include "adminchannel/AdminConnection.h"
#include "core/DataFolder.h"
#include "core/ServerSource.h"

#include <QDeadlineTimer>
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
    explicit AttachedServer(QObject* parent = nullptr);

    // Connects to `socketPath`; attached() or unavailable() follows.
    void attach(const QString& socketPath);
    // Connects to a remote server over TLS (see AdminConnection::connectToRemote);
    // attached() or unavailable() follows as for a local one.
    void attachRemote(const RemoteServerAddress& server, const QString& expectedFingerprint,
                      const QString& password);
    // The channel itself, for the requests the window's copy of the data makes.
    AdminConnection& connection() { return connection_; }
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
    std::optional<monitor::OnlineRow> onlineRow(const QString& key,
                                                const QString& defaultRoot) const override;
    QList<Live> liveReadings() const override;
    void disconnectSession(const QString& key) override;
    // With the time each has left now; ended ones are gone.
    QList<session::BanEntry> bans() const override;
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
        QString refused;  // why its last login was refused
        qint64 limit = 0; // its transfer's speed limit, bytes per second; 0: none
    };
    struct Ban {
        QString address;
        int attempts = 0;
        QDeadlineTimer ends;
    };
    void onConnected();
    void onEvent(const QJsonObject& event);
    // The session events: a row added, changed or gone.
    void onSessionEvent(const QString& name, const QJsonObject& event);
    void onTransferEvent(const QString& name, const QJsonObject& event);
    void onBanEvent(const QString& name, const QJsonObject& event);
    void onClosed();
    void askSessions();
    void askBans();
    Session* sessionWith(quint64 id);
    // Forgets the bans that ended and waits for the next to end; `tell`:
    // bansChanged() when one went.
    void expireBans(bool tell);
    void forget();
    // Sends `request`; `done` gets the answer when it is "ok", refused() the reason otherwise.
    void ask(const QJsonObject& request, std::function<void(const QJsonObject&)> done);

    AdminConnection connection_;
    QJsonObject status_;
    QList<Session> sessions_;
    QList<Ban> bans_;
    QTimer banEnds_; // the next ban to end
    bool attached_ = false;
};

} // namespace kv
