// An attached server's bans: the list asked for once, kept by the ban
// events and the bans' own ends; banning and lifting through the channel.
#include "adminchannel/AttachedServer.h"

#include <QJsonArray>

#include <algorithm>
#include <limits>

namespace kv {

namespace {

QJsonObject op(const QString& name) {
    return {{QStringLiteral("op"), name}};
}

} // namespace

void AttachedServer::onBanEvent(const QString& name, const QJsonObject& event) {
    const QString address = event.value(QStringLiteral("address")).toString();
    bans_.removeIf([&address](const Ban& b) { return b.address == address; });
    if (name == QLatin1String("banned")) {
        const qint64 seconds = qint64(event.value(QStringLiteral("secondsLeft")).toDouble());
        bans_.append({address, event.value(QStringLiteral("attempts")).toInt(),
                      QDeadlineTimer(seconds * 1000)});
    }
    expireBans(false);
    Q_EMIT bansChanged();
}

void AttachedServer::expireBans(bool tell) {
    const qsizetype before = bans_.size();
    bans_.removeIf([](const Ban& b) { return b.ends.hasExpired(); });
    qint64 next = -1;
    for (const Ban& b : std::as_const(bans_)) {
        const qint64 left = b.ends.remainingTime();
        if (next < 0 || left < next)
            next = left;
    }
    if (next >= 0)
        banEnds_.start(int(std::min<qint64>(next + 1, std::numeric_limits<int>::max())));
    else
        banEnds_.stop();
    if (tell && bans_.size() != before)
        Q_EMIT bansChanged();
}

QList<session::BanEntry> AttachedServer::bans() const {
    QList<session::BanEntry> list;
    for (const Ban& b : bans_) {
        if (b.ends.hasExpired())
            continue;
        session::BanEntry entry;
        entry.address = b.address;
        entry.attempts = b.attempts;
        entry.msLeft = b.ends.remainingTime();
        list.append(entry);
    }
    return list;
}

void AttachedServer::askBans() {
    ask(op(QStringLiteral("bans")), [this](const QJsonObject& answer) {
        bans_.clear();
        for (const QJsonValue& value : answer.value(QStringLiteral("bans")).toArray()) {
            const QJsonObject b = value.toObject();
            const qint64 ms = qint64(b.value(QStringLiteral("secondsLeft")).toDouble()) * 1000;
            bans_.append({b.value(QStringLiteral("address")).toString(),
                          b.value(QStringLiteral("attempts")).toInt(), QDeadlineTimer(ms)});
        }
        expireBans(false);
        Q_EMIT bansChanged();
    });
}

void AttachedServer::unban(const QString& address) {
    // The list follows the "banLifted" event.
    ask({{QStringLiteral("op"), QStringLiteral("unban")}, {QStringLiteral("address"), address}},
        {});
}

void AttachedServer::ban(const QString& address, qint64 minutes) {
    QJsonObject request{{QStringLiteral("op"), QStringLiteral("ban")},
                        {QStringLiteral("address"), address}};
    if (minutes > 0)
        request.insert(QStringLiteral("minutes"), minutes);
    ask(request, {}); // the list follows the "banned" event
}

} // namespace kv
