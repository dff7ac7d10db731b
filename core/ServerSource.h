#pragma once
// The running server as the window's online list and status bar see it,
// wherever it runs: the window's own core (LocalServerSource) or another
// program on the same data folder reached over the administration channel
// (AttachedServer). Rows and readings are what the server's events have
// told so far; the signals say which row to look at again.

#include "monitor/OnlineList.h"
#include "monitor/TransferRates.h"
#include "session/LoginBans.h"

#include <QObject>
#include <optional>

namespace kv {

class ServerSource : public QObject {
    Q_OBJECT
public:
    // A session's live counters with the key of its row in the online list.
    struct Live {
        QString key;
        monitor::TransferRates::Reading reading;
        // The speed limit its transfer moves under, in bytes per second; 0: none.
        qint64 limitBytesPerSecond = 0;
    };

    using QObject::QObject;

    virtual int sessionCount() const = 0;
    // One row per session; `defaultRoot` for an account without a root.
    virtual QList<monitor::OnlineRow> onlineRows(const QString& defaultRoot) const = 0;
    // The row with `key`; none when that session is not there.
    virtual std::optional<monitor::OnlineRow> onlineRow(const QString& key,
                                                        const QString& defaultRoot) const = 0;
    virtual QList<Live> liveReadings() const = 0;
    // Disconnects the session of the row with `key` (a missing one is ignored).
    virtual void disconnectSession(const QString& key) = 0;
    virtual QList<session::BanEntry> bans() const = 0;
    // Lifts a ban; bansChanged() follows when it was lifted.
    virtual void unban(const QString& address) = 0;

Q_SIGNALS:
    // The rows changed without saying which (attached, detached, an event
    // naming no session): every row is to be looked at again.
    void sessionsChanged();
    // The session of the row `key` came or changed (logged in, refused).
    void sessionChanged(const QString& key);
    // The session of the row `key` ended.
    void sessionGone(const QString& key);
    void bansChanged();
};

} // namespace kv
