#include "session/Admission.h"

#include "session/LoginBans.h"

namespace kv::session {

namespace {

bool reached(int count, int limit) {
    return limit > 0 && count >= limit;
}

} // namespace

Admission::Ticket& Admission::Ticket::operator=(Ticket&& other) noexcept {
    if (this != &other) {
        release();
        owner_ = std::exchange(other.owner_, nullptr);
        address_ = std::move(other.address_);
    }
    return *this;
}

void Admission::Ticket::release() {
    if (Admission* owner = std::exchange(owner_, nullptr))
        owner->free(address_);
}

std::optional<Admission::Refusal> Admission::refusalOf(const QString& address) const {
    if (bans_ && bans_->isBanned(address))
        return Refusal::Banned;
    if (reached(open_, limits_.maxConnections))
        return Refusal::TooMany;
    if (reached(from_.value(address), limits_.maxPerAddress))
        return Refusal::TooManyFromAddress;
    return std::nullopt;
}

Admission::Ticket Admission::admit(const QString& address) {
    ++open_;
    ++from_[address];
    Ticket ticket;
    ticket.owner_ = this;
    ticket.address_ = address;
    return ticket;
}

void Admission::free(const QString& address) {
    --open_;
    const auto it = from_.find(address);
    if (it != from_.end() && --it.value() <= 0)
        from_.erase(it);
}

QString Admission::reasonText(Refusal refusal) const {
    switch (refusal) {
    case Refusal::Banned:
        return QStringLiteral("indirizzo bloccato temporaneamente dopo troppi accessi falliti");
    case Refusal::TooMany:
        return QStringLiteral("raggiunto il limite di %1 connessioni in tutto (max_connections)")
            .arg(limits_.maxConnections);
    case Refusal::TooManyFromAddress:
        return QStringLiteral(
                   "raggiunto il limite di %1 connessioni da un indirizzo (max_connections_per_ip)")
            .arg(limits_.maxPerAddress);
    }
    return {};
}

} // namespace kv::session
