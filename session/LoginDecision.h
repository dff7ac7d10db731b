#pragma once
// The two questions every protocol asks the program about a session: may
// this login go ahead (and what does it grant), and here is a line for the
// log. Both are asked synchronously on the thread that owns the servers.

#include "session/Connection.h"

#include <QString>
#include <memory>

namespace kv::session {

// The program's answer to a login.
struct LoginDecision {
    enum class Outcome {
        Accepted,    // "230 User %s logged in.", with the grant
        Refused,     // "530 Login incorrect", counted as a failed attempt
        Unavailable, // the accounts could not be read: a temporary refusal, not counted
    };
    Outcome outcome = Outcome::Refused;
    std::shared_ptr<const files::LoginGrant> grant; // set when accepted
    QString reason; // Italian, for the log: why it was refused or unavailable
    // Refused: whether it counts towards the address's ban. A login whose
    // password was right (an expired account) does not.
    bool countsTowardsBan = true;

    static LoginDecision accepted(std::shared_ptr<const files::LoginGrant> grant) {
        return {Outcome::Accepted, std::move(grant), {}};
    }
    static LoginDecision refused(const QString& reason) { return {Outcome::Refused, {}, reason}; }
    static LoginDecision refusedUncounted(const QString& reason) {
        return {Outcome::Refused, {}, reason, false};
    }
    static LoginDecision unavailable(const QString& reason) {
        return {Outcome::Unavailable, {}, reason};
    }
};

// What the engine asks of the program. Implemented by the program's event
// handler (and by fakes in tests).
class EngineEvents {
public:
    virtual ~EngineEvents() = default;
    virtual LoginDecision LoginRequest(ConnectionObject& c) = 0;
    virtual void LogLine(ConnectionObject& c, const QString& line) = 0;
};

} // namespace kv::session
