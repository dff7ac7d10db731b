#pragma once
// Failed logins counted per client address over a sliding window, and the
// temporary bans they lead to. No sockets: the engine asks it at every new
// connection and tells it of every refused PASS; the Sicurezza panel lists
// and lifts the bans. The clock is passed in so tests can move time.
//
// It lives in memory only: a new start of the server begins with no bans.
// Every ban, counted or made by hand, and every lift is told on the bus.

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace kv::events {
class ServerEvents;
}

namespace kv::session {

struct BanRules {
    int attempts = 0; // failed logins within the window that ban; 0: off
    qint64 windowMs = 10 * 60 * 1000;
    qint64 banMs = 10 * 60 * 1000;
    bool on() const { return attempts > 0; }
    friend bool operator==(const BanRules&, const BanRules&) = default;
};

// One banned address as the panel lists it.
struct BanEntry {
    QString address;
    int attempts = 0; // the failed logins that led to the ban
    qint64 msLeft = 0;
};

class LoginBans : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds, never going back

    explicit LoginBans(Clock clock = {}, QObject* parent = nullptr);

    // Where bans and lifts are told; null: nowhere. The caller keeps it alive.
    void setNotifications(events::ServerEvents* bus) { bus_ = bus; }

    // New rules drop every count and every ban.
    void reset(const BanRules& rules);
    const BanRules& rules() const { return rules_; }

    bool isBanned(const QString& address) const;
    // Counts one failed login; the number of failures that banned the
    // address when this one did, nothing otherwise (also with the rules off
    // or while the address is banned already).
    std::optional<int> recordFailure(const QString& address);
    // The bans in force, oldest first.
    QList<BanEntry> bans() const;
    // Bans `address` by hand for `ms` milliseconds from now (a ban in force
    // ends then instead); its open connections close as with a counted ban.
    void ban(const QString& address, qint64 ms);
    // Lifts the ban (and forgets the count) of `address`; false if none.
    bool lift(const QString& address);

Q_SIGNALS:
    // A ban started or was lifted by the operator.
    void changed();
    // `address` is banned from now on (after `attempts` failures).
    void banStarted(const QString& address, int attempts);

private:
    struct Record {
        QList<qint64> failures; // times within the window, oldest first
        qint64 bannedUntil = 0; // 0: not banned
        int bannedAfter = 0;
    };
    qint64 now() const;
    void forgetOld(qint64 at);

    Clock clock_;
    BanRules rules_;
    events::ServerEvents* bus_ = nullptr;
    QHash<QString, Record> records_;
};

} // namespace kv::session
