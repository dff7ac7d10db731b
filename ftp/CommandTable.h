#pragma once
// The one table of commands the engine understands: for each verb its
// handler, its preconditions and what it leaves pending for the next
// command. The file operation a command performs is the one it asks of the
// file service, which decides it from the login grant. dispatchCommand() checks the
// preconditions in one place and hands only valid commands to the session
// through the narrow CommandTarget interface.

#include "ftp/CommandParser.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kv::ftp {

class ControlSession;

enum class ArgRule { None, Optional, Required };

// What a command leaves in place for the command after it; everything else
// is forgotten when any other command runs (a REST offset only applies to
// the transfer right after it, RNFR only to the RNTO right after it).
enum class Keeps { Nothing, RestOffset, RenameSource };

using CommandHandler = void (ControlSession::*)(const QString& argument);

struct CommandInfo {
    const char* verb;
    CommandHandler handler;
    bool needsLogin;
    ArgRule arg;
    Keeps keeps;
    // Answered at once even while a transfer runs; other commands wait.
    bool duringTransfer;
    // Moves data over a data connection (bound by "TLS required").
    bool movesData = false;
    // Only known while TLS is offered; otherwise "not understood".
    bool tlsOnly = false;
};

// nullptr for a verb the engine does not know.
const CommandInfo* findCommand(const QString& verb);
// Verbs for HELP, in table order; the TLS ones only when offered.
QStringList commandVerbs(bool withTls);

// What the dispatcher needs from a session.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    virtual bool isLoggedIn() const = 0;
    virtual bool offersTls() const = 0;
    // A precondition failed or the line was unusable: send this error.
    virtual void rejectCommand(const ParsedCommand& cmd, ParseError error, const CommandInfo* info,
                               bool loginMissing) = 0;
    virtual void runCommand(const CommandInfo& info, const QString& argument) = 0;
};

void dispatchCommand(CommandTarget& target, const ParsedCommand& cmd);

} // namespace kv::ftp
