// The failed-login counts and temporary bans per address.
#include "session/LoginBans.h"

#include "events/ServerEvents.h"

#include <QElapsedTimer>
#include <algorithm>

namespace kv::session {

namespace {

// Past this many addresses the records no longer in use are dropped, so a
// client trying from many addresses cannot make the list grow without end.
constexpr qsizetype kTidyAbove = 1024;

qint64 monotonicMs() {
    static QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}

} // namespace

LoginBans::LoginBans(Clock clock, QObject* parent)
    : QObject(parent), clock_(clock ? std::move(clock) : Clock(&monotonicMs)) {}

qint64 LoginBans::now() const {
    return clock_();
}

void LoginBans::reset(const BanRules& rules) {
    const bool hadBans = !bans().isEmpty();
    rules_ = rules;
    records_.clear();
    if (hadBans)
        Q_EMIT changed();
}

bool LoginBans::isBanned(const QString& address) const {
    const auto it = records_.constFind(address);
    return it != records_.cend() && it->bannedUntil > now();
}

void LoginBans::forgetOld(qint64 at) {
    for (auto it = records_.begin(); it != records_.end();) {
        const bool banned = it->bannedUntil > at;
        const bool counting = !it->failures.isEmpty() && it->failures.last() > at - rules_.windowMs;
        it = banned || counting ? std::next(it) : records_.erase(it);
    }
}

std::optional<int> LoginBans::recordFailure(const QString& address) {
    if (!rules_.on())
        return std::nullopt;
    const qint64 at = now();
    if (records_.size() > kTidyAbove)
        forgetOld(at);
    Record& record = records_[address];
    if (record.bannedUntil > at)
        return std::nullopt;
    record.bannedUntil = 0;
    // Only the failures inside the window count.
    const auto stale = std::find_if(record.failures.cbegin(), record.failures.cend(),
                                    [&](qint64 t) { return t > at - rules_.windowMs; });
    record.failures.erase(record.failures.cbegin(), stale);
    record.failures.append(at);
    const int count = int(record.failures.size());
    if (count < rules_.attempts)
        return std::nullopt;
    record.bannedUntil = at + rules_.banMs;
    record.bannedAfter = count;
    record.failures.clear();
    Q_EMIT banStarted(address, count);
    Q_EMIT changed();
    if (bus_)
        Q_EMIT bus_->addressBanned({address, count, rules_.banMs});
    return count;
}

QList<BanEntry> LoginBans::bans() const {
    const qint64 at = now();
    QList<std::pair<qint64, BanEntry>> found;
    for (auto it = records_.cbegin(); it != records_.cend(); ++it) {
        if (it->bannedUntil > at)
            found.append(
                {it->bannedUntil, BanEntry{it.key(), it->bannedAfter, it->bannedUntil - at}});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.address < b.second.address;
    });
    QList<BanEntry> result;
    for (const auto& [until, entry] : found)
        result.append(entry);
    return result;
}

void LoginBans::ban(const QString& address, qint64 ms) {
    Record& record = records_[address];
    record.failures.clear();
    const qint64 duration = std::max<qint64>(ms, 1);
    record.bannedUntil = now() + duration;
    Q_EMIT banStarted(address, record.bannedAfter);
    Q_EMIT changed();
    if (bus_)
        Q_EMIT bus_->addressBanned({address, record.bannedAfter, duration});
}

bool LoginBans::lift(const QString& address) {
    const auto it = records_.find(address);
    if (it == records_.end())
        return false;
    const bool wasBanned = it->bannedUntil > now();
    records_.erase(it);
    if (wasBanned) {
        Q_EMIT changed();
        if (bus_)
            Q_EMIT bus_->banLifted(address);
    }
    return wasBanned;
}

} // namespace kv::session
