// The window's own server, read straight from its core.
#include "core/LocalServerSource.h"

#include "core/ProgramCore.h"

namespace kv {

LocalServerSource::LocalServerSource(ProgramCore& core, QObject* parent)
    : ServerSource(parent), core_(core) {
    auto& bus = core_.notifications();
    connect(&bus, &events::ServerEvents::loggedIn, this, &ServerSource::sessionsChanged);
    connect(&bus, &events::ServerEvents::loginFailed, this, &ServerSource::sessionsChanged);
    connect(&bus, &events::ServerEvents::sessionClosed, this, &ServerSource::sessionsChanged);
    connect(&bus, &events::ServerEvents::addressBanned, this, &ServerSource::bansChanged);
}

int LocalServerSource::sessionCount() const {
    return int(core_.connections().size());
}

QList<monitor::OnlineRow> LocalServerSource::onlineRows(const QString& defaultRoot) const {
    return monitor::buildOnlineRows(core_.connections(), defaultRoot);
}

QList<ServerSource::Live> LocalServerSource::liveReadings() const {
    QList<Live> list;
    for (session::ConnectionObject* c : core_.connections())
        list.append({monitor::onlineKey(*c), {c, c->Activity()}});
    return list;
}

void LocalServerSource::disconnectSession(const QString& key) {
    // The list is rebuilt when the engine reports the closed connection.
    if (session::ConnectionObject* c = monitor::connectionToDisconnect(core_.connections(), key))
        c->Disconnect();
}

QList<session::BanEntry> LocalServerSource::bans() const {
    return core_.loginBans().bans();
}

void LocalServerSource::unban(const QString& address) {
    if (core_.loginBans().lift(address))
        Q_EMIT bansChanged();
}

} // namespace kv
