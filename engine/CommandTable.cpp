#include "engine/CommandTable.h"

#include <array>

namespace kv::engine {

namespace {

using enum CommandId;
using enum ArgRule;

// verb, id, needs login, argument, answered during a transfer
constexpr std::array kCommands{
    CommandInfo{"USER", User, false, Required, false},
    CommandInfo{"PASS", Pass, false, Optional, false},
    CommandInfo{"ACCT", Acct, false, Optional, false},
    CommandInfo{"CWD", Cwd, true, Optional, false},
    CommandInfo{"XCWD", Cwd, true, Optional, false},
    CommandInfo{"CDUP", Cdup, true, None, false},
    CommandInfo{"XCUP", Cdup, true, None, false},
    CommandInfo{"PWD", Pwd, true, None, false},
    CommandInfo{"XPWD", Pwd, true, None, false},
    CommandInfo{"MKD", Mkd, true, Required, false},
    CommandInfo{"XMKD", Mkd, true, Required, false},
    CommandInfo{"RMD", Rmd, true, Required, false},
    CommandInfo{"XRMD", Rmd, true, Required, false},
    CommandInfo{"DELE", Dele, true, Required, false},
    CommandInfo{"RNFR", Rnfr, true, Required, false},
    CommandInfo{"RNTO", Rnto, true, Required, false},
    CommandInfo{"LIST", List, true, Optional, false},
    CommandInfo{"NLST", Nlst, true, Optional, false},
    CommandInfo{"MLSD", Mlsd, true, Optional, false},
    CommandInfo{"MLST", Mlst, true, Optional, false},
    CommandInfo{"RETR", Retr, true, Required, false},
    CommandInfo{"STOR", Stor, true, Required, false},
    CommandInfo{"APPE", Appe, true, Required, false},
    CommandInfo{"STOU", Stou, true, Optional, false},
    CommandInfo{"REST", Rest, true, Required, false},
    CommandInfo{"ABOR", Abor, true, None, true},
    CommandInfo{"TYPE", Type, true, Required, false},
    CommandInfo{"MODE", Mode, true, Required, false},
    CommandInfo{"STRU", Stru, true, Required, false},
    CommandInfo{"ALLO", Allo, true, Optional, false},
    CommandInfo{"SYST", Syst, false, None, false},
    CommandInfo{"STAT", Stat, true, Optional, true},
    CommandInfo{"HELP", Help, false, Optional, false},
    CommandInfo{"NOOP", Noop, false, None, true},
    CommandInfo{"QUIT", Quit, false, None, true},
    CommandInfo{"SITE", Site, true, Required, false},
    CommandInfo{"FEAT", Feat, false, None, false},
    CommandInfo{"OPTS", Opts, false, Required, false},
    CommandInfo{"SIZE", Size, true, Required, false},
    CommandInfo{"MDTM", Mdtm, true, Required, false},
    CommandInfo{"MFMT", Mfmt, true, Required, false},
    CommandInfo{"PASV", Pasv, true, None, false},
    CommandInfo{"EPSV", Epsv, true, Optional, false},
    CommandInfo{"PORT", Port, true, Required, false},
    CommandInfo{"EPRT", Eprt, true, Required, false},
};

} // namespace

const CommandInfo* findCommand(const QString& verb) {
    for (const CommandInfo& info : kCommands) {
        if (verb == QLatin1StringView(info.verb))
            return &info;
    }
    return nullptr;
}

QStringList commandVerbs() {
    QStringList verbs;
    for (const CommandInfo& info : kCommands)
        verbs << QString::fromLatin1(info.verb);
    return verbs;
}

void dispatchCommand(CommandTarget& target, const ParsedCommand& cmd) {
    if (!cmd.ok()) {
        target.rejectCommand(cmd, cmd.error, nullptr, false);
        return;
    }
    const CommandInfo* info = findCommand(cmd.verb);
    if (!info) {
        target.rejectCommand(cmd, ParseError::BadVerb, nullptr, false);
        return;
    }
    if (info->needsLogin && !target.isLoggedIn()) {
        target.rejectCommand(cmd, ParseError::None, info, true);
        return;
    }
    // Extra words after a command without arguments are ignored, as most
    // servers do; a missing required argument is refused here.
    if (info->arg == ArgRule::Required && cmd.argument.trimmed().isEmpty()) {
        target.rejectCommand(cmd, ParseError::None, info, false);
        return;
    }
    target.runCommand(*info, cmd.argument);
}

} // namespace kv::engine
