#pragma once
// Whether a new connection may become a session, decided in one place for
// every protocol: a banned address is refused, and so is a connection past
// `max_connections` (open sessions of all protocols together) or
// `max_connections_per_ip` (from its address). Each admitted session holds a
// ticket; giving it back frees its place.

#include <QHash>
#include <QString>
#include <optional>

namespace kv::session {

class LoginBans;

class Admission {
public:
    struct Limits {
        int maxConnections = 0; // open sessions in all; 0: no limit
        int maxPerAddress = 0;  // open sessions from one address; 0: no limit
    };

    enum class Refusal { Banned, TooMany, TooManyFromAddress };

    // One admitted session's place; move-only, freed when destroyed or released.
    class Ticket {
    public:
        Ticket() = default;
        Ticket(Ticket&& other) noexcept { *this = std::move(other); }
        Ticket& operator=(Ticket&& other) noexcept;
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        ~Ticket() { release(); }
        void release();
        bool held() const { return owner_ != nullptr; }

    private:
        friend class Admission;
        Admission* owner_ = nullptr;
        QString address_;
    };

    // `bans` (null: none) is kept alive by the caller.
    explicit Admission(LoginBans* bans = nullptr) : bans_(bans) {}
    Admission(const Admission&) = delete;
    Admission& operator=(const Admission&) = delete;

    void setBans(LoginBans* bans) { bans_ = bans; }
    LoginBans* bans() const { return bans_; }
    // Applies to connections admitted from now on; open ones stay.
    void setLimits(const Limits& limits) { limits_ = limits; }
    const Limits& limits() const { return limits_; }

    // Why a new connection from `address` (as net::addressText gives it)
    // would be refused; nothing when it may come in.
    std::optional<Refusal> refusalOf(const QString& address) const;
    // Counts a session from `address` until the ticket is given back.
    Ticket admit(const QString& address);

    int open() const { return open_; }
    int openFrom(const QString& address) const { return from_.value(address); }

    // The refusal for the log, after "Connessione da <address> rifiutata: ".
    QString reasonText(Refusal refusal) const;

private:
    void free(const QString& address);

    LoginBans* bans_ = nullptr;
    Limits limits_;
    int open_ = 0;
    QHash<QString, int> from_;
};

} // namespace kv::session
