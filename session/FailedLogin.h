#pragma once
// What one refused login leaves behind, alike for every protocol: its line in
// the log, the loginFailed event, and the failure counted for its address
// (with the line of the ban it may start; the ban store tells the bus).

#include "events/ServerEvents.h"

#include <QString>
#include <functional>

namespace kv::session {

class LoginBans;

struct FailedLogin {
    events::SessionInfo session;  // the session as it stood; its address is counted
    QString login;                // the name given
    QString reason;               // Italian, for the log; never the password
    bool countsTowardsBan = true; // false: logged and told, never counted
};

struct FailedLoginPlace {
    LoginBans* bans = nullptr;           // null: no counting
    events::ServerEvents* bus = nullptr; // null: nobody listens
    std::function<void(const QString&)> log;
};

// Records `failure`; `refusedLine` (the protocol's words for it, without the
// reason) is logged with the reason when there is one. True when it was
// counted and bans are on:
// the answer should then wait kFailedLoginDelayMs, so guessing gets slow
// while other sessions go on.
bool recordFailedLogin(const FailedLoginPlace& place, const FailedLogin& failure,
                       const QString& refusedLine);

} // namespace kv::session
