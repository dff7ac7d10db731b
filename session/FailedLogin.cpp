#include "session/FailedLogin.h"

#include "session/LoginBans.h"

namespace kv::session {

bool recordFailedLogin(const FailedLoginPlace& place, const FailedLogin& failure,
                       const QString& refusedLine) {
    const auto log = [&](const QString& line) {
        if (place.log)
            place.log(line);
    };
    if (!failure.reason.isEmpty())
        log(QStringLiteral("%1: %2").arg(refusedLine, failure.reason));
    if (place.bus)
        Q_EMIT place.bus->loginFailed({failure.session, failure.login, failure.reason});
    LoginBans* bans = place.bans;
    if (!bans || !bans->rules().on() || !failure.countsTowardsBan)
        return false;
    const QString& address = failure.session.address;
    if (const std::optional<int> count = bans->recordFailure(address))
        log(QStringLiteral("Indirizzo %1 bloccato temporaneamente dopo %2 accessi falliti")
                .arg(address)
                .arg(*count));
    return true;
}

} // namespace kv::session
