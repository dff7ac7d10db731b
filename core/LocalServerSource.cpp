// The window's own server, read straight from its core.
#include "core/LocalServerSource.h"

#include "core/ProgramCore.h"

namespace kv {

LocalServerSource::LocalServerSource(ProgramCore& core, QObject* parent)
    : ServerSource(parent), core_(core) {
    auto& bus = core_.notifications();
    const auto changed = [this](const events::SessionInfo& s) {
        if (s.id == 0) // names no session: all of them are looked at
            Q_EMIT sessionsChanged();
        else
            Q_EMIT sessionChanged(keyOf(s.id));
    };
    connect(&bus, &events::ServerEvents::sessionOpened, this, changed);
    connect(&bus, &events::ServerEvents::loggedIn, this, changed);
    connect(&bus, &events::ServerEvents::loginFailed, this,
            [changed](const events::LoginFailure& f) { changed(f.session); });
    connect(&bus, &events::ServerEvents::transferStarted, this,
            [this](const events::TransferEvent& t) {
                if (t.kind == events::TransferKind::Listing)
                    return;
                if (t.limitBytesPerSecond > 0)
                    limits_.insert(t.session.id, t.limitBytesPerSecond);
                else
                    limits_.remove(t.session.id);
            });
    connect(&bus, &events::ServerEvents::transferFinished, this,
            [this](const events::TransferEvent& t) {
                if (t.kind != events::TransferKind::Listing)
                    limits_.remove(t.session.id);
            });
    connect(&bus, &events::ServerEvents::sessionClosed, this, [this](const events::SessionInfo& s) {
        limits_.remove(s.id);
        if (s.id == 0)
            Q_EMIT sessionsChanged();
        else
            Q_EMIT sessionGone(keyOf(s.id));
    });
    connect(&bus, &events::ServerEvents::addressBanned, this, &ServerSource::bansChanged);
    connect(&bus, &events::ServerEvents::banLifted, this, &ServerSource::bansChanged);
}

QString LocalServerSource::keyOf(quint64 id) {
    return QStringLiteral("k") + QString::number(id); // as monitor::onlineKey
}

int LocalServerSource::sessionCount() const {
    return int(core_.connections().size());
}

QList<monitor::OnlineRow> LocalServerSource::onlineRows(const QString& defaultRoot) const {
    return monitor::buildOnlineRows(core_.connections(), defaultRoot);
}

std::optional<monitor::OnlineRow> LocalServerSource::onlineRow(const QString& key,
                                                               const QString& defaultRoot) const {
    session::ConnectionObject* c = monitor::connectionToDisconnect(core_.connections(), key);
    if (!c)
        return std::nullopt;
    return monitor::buildOnlineRows({c}, defaultRoot).value(0);
}

QList<ServerSource::Live> LocalServerSource::liveReadings() const {
    QList<Live> list;
    for (session::ConnectionObject* c : core_.connections())
        list.append({monitor::onlineKey(*c), {c, c->Activity()}, limits_.value(c->Id())});
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
    core_.loginBans().lift(address); // bansChanged() follows from the bus
}

} // namespace kv
