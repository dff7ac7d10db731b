#pragma once
// The one table of commands the engine understands, with each command's
// preconditions. dispatchCommand() checks them in one place and hands only
// valid commands to the session through the narrow CommandTarget interface.

#include "engine/CommandParser.h"

#include <QString>
#include <QStringList>

namespace kv::engine {

enum class CommandId {
    User,
    Pass,
    Acct,
    Cwd,
    Cdup,
    Pwd,
    Mkd,
    Rmd,
    Dele,
    Rnfr,
    Rnto,
    List,
    Nlst,
    Mlsd,
    Mlst,
    Retr,
    Stor,
    Appe,
    Stou,
    Rest,
    Abor,
    Type,
    Mode,
    Stru,
    Allo,
    Syst,
    Stat,
    Help,
    Noop,
    Quit,
    Site,
    Feat,
    Opts,
    Size,
    Mdtm,
    Mfmt,
    Pasv,
    Epsv,
    Port,
    Eprt,
};

enum class ArgRule { None, Optional, Required };

struct CommandInfo {
    const char* verb;
    CommandId id;
    bool needsLogin;
    ArgRule arg;
    // Answered at once even while a transfer runs; other commands wait.
    bool duringTransfer;
};

// nullptr for a verb the engine does not know.
const CommandInfo* findCommand(const QString& verb);
// Verbs for HELP, in table order.
QStringList commandVerbs();

// What the dispatcher needs from a session.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    virtual bool isLoggedIn() const = 0;
    // A precondition failed or the line was unusable: send this error.
    virtual void rejectCommand(const ParsedCommand& cmd, ParseError error, const CommandInfo* info,
                               bool loginMissing) = 0;
    virtual void runCommand(const CommandInfo& info, const QString& argument) = 0;
};

void dispatchCommand(CommandTarget& target, const ParsedCommand& cmd);

} // namespace kv::engine
