#pragma once
// What the administration channel can ask of a running program: its status,
// the open sessions with their transfers, disconnecting one, the bans, and a
// reload; each answer is the JSON object the channel sends. Also turns the
// bus's log lines, session, transfer and ban events into the lines
// subscribers get.

#include "adminchannel/AdminProtocol.h"
#include "events/ServerEvents.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <functional>

namespace kv {

class DataOperations;
class ProgramCore;
namespace session {
class ConnectionObject;
}

class AdminOperations : public QObject {
    Q_OBJECT
public:
    // Rereads the settings and listens with them, as the reload signal does;
    // true when applied.
    using ReloadFn = std::function<bool()>;

    // Without `reload`, the settings row is read again and the server reloaded.
    explicit AdminOperations(ProgramCore& core, ReloadFn reload = {}, QObject* parent = nullptr);

    // The answer to one request ("ok" false with the reason for an unknown
    // operation or bad fields). "follow" is the channel's, not answered here.
    QJsonObject answer(const AdminRequest& request);

    QJsonObject status() const;
    QJsonObject sessions();
    QJsonObject kick(const QJsonObject& body);
    QJsonObject bans() const;
    QJsonObject ban(const QJsonObject& body);
    QJsonObject unban(const QJsonObject& body);
    QJsonObject reload();
    // Each account's quota as used now ("login": one; "scan": counted from
    // the disk again first, the counts finishing on the loop).
    QJsonObject quota(const QJsonObject& body);

    // Every log line passes here (to note the start time and reload reasons).
    void lineLogged(const QString& line);

    // {"event": "log", "line": ...}, with the session's id, address, login
    // and protocol when the line is a session's.
    static QJsonObject logEvent(const events::LogLine& line);
    static QJsonObject sessionEvent(const QString& event, const events::SessionInfo& session);
    static QJsonObject transferEvent(const QString& event, const events::TransferEvent& transfer);
    // The events a window keeps its lists with (AdminEvents.cpp): a login
    // with its root and rights, a refused login with the reason, a transfer
    // event with the session's byte totals, a ban made ("banned", with its
    // attempts and seconds left) or lifted ("banLifted").
    QJsonObject loggedInEvent(const events::SessionInfo& session) const;
    static QJsonObject loginFailedEvent(const events::LoginFailure& failure);
    QJsonObject countedTransferEvent(const QString& event,
                                     const events::TransferEvent& transfer) const;
    static QJsonObject banEvent(const events::AddressBan& ban);
    static QJsonObject banLiftedEvent(const QString& address);

Q_SIGNALS:
    // accounts.dat changed through the channel: subscribers are told.
    void dataChanged();

private:
    struct RateSample {
        QString path;
        qint64 bytes = 0;
        QElapsedTimer since;
        qint64 limit = 0; // the transfer's speed limit as it started; 0: none
    };
    void noteRunning();
    const session::ConnectionObject* connectionWith(quint64 id) const;

    ProgramCore& core_;
    ReloadFn reload_;
    DataOperations* data_; // snapshot, apply, browse
    QDateTime startedAt_;
    QHash<quint64, RateSample> rates_;     // by session id: where its transfer started
    QStringList* reloadReasons_ = nullptr; // set while a reload runs
    bool recheckQueued_ = false;
};

} // namespace kv
