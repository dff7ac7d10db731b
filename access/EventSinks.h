#pragma once
// Where the engine event handler passes on what is not a decision: the
// engine's lines (to the activity log) and the changes of who is online (to
// the window's status bar and online list, or nothing without a window).

#include "session/LoginDecision.h"

#include <QString>

namespace kv::access {

// Receives the lines the engine reports for a connection.
class EngineLineSink {
public:
    virtual ~EngineLineSink() = default;
    virtual void LogLine(const session::ConnectionObject& connection, const QString& text) = 0;
};

// The user count and the online list.
class OnlineObserver {
public:
    virtual ~OnlineObserver() = default;
    virtual void ShowUsersNumber() = 0;
    virtual void AggiornaUtenti() = 0;
};

} // namespace kv::access
