#pragma once
// The window's own server as a ServerSource: the core's connections read
// directly, its bans in the core's LoginBans, and their changes from the
// core's event bus.

#include "core/ServerSource.h"

#include <QHash>

namespace kv {

class ProgramCore;

class LocalServerSource : public ServerSource {
    Q_OBJECT
public:
    explicit LocalServerSource(ProgramCore& core, QObject* parent = nullptr);

    int sessionCount() const override;
    QList<monitor::OnlineRow> onlineRows(const QString& defaultRoot) const override;
    std::optional<monitor::OnlineRow> onlineRow(const QString& key,
                                                const QString& defaultRoot) const override;
    QList<Live> liveReadings() const override;
    void disconnectSession(const QString& key) override;
    QList<session::BanEntry> bans() const override;
    void unban(const QString& address) override;

private:
    static QString keyOf(quint64 id);

    ProgramCore& core_;
    // The speed limit of each limited session's running transfer, as it
    // started (progress is not followed: nobody listening costs no timer).
    QHash<quint64, qint64> limits_;
};

} // namespace kv
