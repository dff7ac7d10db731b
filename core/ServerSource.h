#pragma once
// The running server as the window's online list and status bar see it,
// wherever it runs: the window's own core (LocalServerSource) or another
// program on the same data folder reached over the administration channel
// (AttachedServer). Rows and readings are what the last look found; the
// signals say when to look again.

#include "monitor/OnlineList.h"
#include "monitor/TransferRates.h"
#include "session/LoginBans.h"

#include <QObject>

namespace kv {

class ServerSource : public QObject {
    Q_OBJECT
public:
    // A session's live counters with the key of its row in the online list.
    struct Live {
        QString key;
        monitor::TransferRates::Reading reading;
    };

    using QObject::QObject;

    virtual int sessionCount() const = 0;
    // One row per session; `defaultRoot` for an account without a root.
    virtual QList<monitor::OnlineRow> onlineRows(const QString& defaultRoot) const = 0;
    virtual QList<Live> liveReadings() const = 0;
    // Disconnects the session of the row with `key` (a missing one is ignored).
    virtual void disconnectSession(const QString& key) = 0;
    virtual QList<session::BanEntry> bans() const = 0;
    // Lifts a ban; bansChanged() follows when it was lifted.
    virtual void unban(const QString& address) = 0;

Q_SIGNALS:
    // Sessions came or went (the rows changed).
    void sessionsChanged();
    void bansChanged();
};

} // namespace kv
