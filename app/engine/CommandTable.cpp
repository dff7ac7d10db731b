#include "app/engine/CommandTable.h"

#include <array>

namespace kv::engine {

namespace {

using enum CommandId;
using enum ArgRule;

// verb, id, needs login, argument, answered during a transfer
constexpr std::array kCommands{
    CommandSpec{"USER", User, false, Required, false},
    CommandSpec{"PASS", Pass, false, Optional, false},
    CommandSpec{"ACCT", Acct, false, Optional, false},
    CommandSpec{"CWD", Cwd, true, Optional, false},
    CommandSpec{"XCWD", Cwd, true, Optional, false},
    CommandSpec{"CDUP", Cdup, true, None, false},
    CommandSpec{"XCUP", Cdup, true, None, false},
    CommandSpec{"PWD", Pwd, true, None, false},
    CommandSpec{"XPWD", Pwd, true, None, false},
    CommandSpec{"MKD", Mkd, true, Required, false},
    CommandSpec{"XMKD", Mkd, true, Required, false},
    CommandSpec{"RMD", Rmd, true, Required, false},
    CommandSpec{"XRMD", Rmd, true, Required, false},
    CommandSpec{"DELE", Dele, true, Required, false},
    CommandSpec{"RNFR", Rnfr, true, Required, false},
    CommandSpec{"RNTO", Rnto, true, Required, false},
    CommandSpec{"LIST", List, true, Optional, false},
    CommandSpec{"NLST", Nlst, true, Optional, false},
    CommandSpec{"MLSD", Mlsd, true, Optional, false},
    CommandSpec{"MLST", Mlst, true, Optional, false},
    CommandSpec{"RETR", Retr, true, Required, false},
    CommandSpec{"STOR", Stor, true, Required, false},
    CommandSpec{"APPE", Appe, true, Required, false},
    CommandSpec{"STOU", Stou, true, Optional, false},
    CommandSpec{"REST", Rest, true, Required, false},
    CommandSpec{"ABOR", Abor, true, None, true},
    CommandSpec{"TYPE", Type, true, Required, false},
    CommandSpec{"MODE", Mode, true, Required, false},
    CommandSpec{"STRU", Stru, true, Required, false},
    CommandSpec{"ALLO", Allo, true, Optional, false},
    CommandSpec{"SYST", Syst, false, None, false},
    CommandSpec{"STAT", Stat, true, Optional, true},
    CommandSpec{"HELP", Help, false, Optional, false},
    CommandSpec{"NOOP", Noop, false, None, true},
    CommandSpec{"QUIT", Quit, false, None, true},
    CommandSpec{"SITE", Site, true, Required, false},
    CommandSpec{"FEAT", Feat, false, None, false},
    CommandSpec{"OPTS", Opts, false, Required, false},
    CommandSpec{"SIZE", Size, true, Required, false},
    CommandSpec{"MDTM", Mdtm, true, Required, false},
    CommandSpec{"MFMT", Mfmt, true, Required, false},
    CommandSpec{"PASV", Pasv, true, None, false},
    CommandSpec{"EPSV", Epsv, true, Optional, false},
    CommandSpec{"PORT", Port, true, Required, false},
    CommandSpec{"EPRT", Eprt, true, Required, false},
};

} // namespace

const CommandSpec* findCommand(const QString& verb) {
    for (const CommandSpec& spec : kCommands) {
        if (verb == QLatin1StringView(spec.verb))
            return &spec;
    }
    return nullptr;
}

QStringList commandVerbs() {
    QStringList verbs;
    for (const CommandSpec& spec : kCommands)
        verbs << QString::fromLatin1(spec.verb);
    return verbs;
}

void dispatchCommand(CommandTarget& target, const ParsedCommand& cmd) {
    if (!cmd.ok()) {
        target.rejectCommand(cmd, cmd.error, nullptr, false);
        return;
    }
    const CommandSpec* spec = findCommand(cmd.verb);
    if (!spec) {
        target.rejectCommand(cmd, ParseError::BadVerb, nullptr, false);
        return;
    }
    if (spec->needsLogin && !target.isLoggedIn()) {
        target.rejectCommand(cmd, ParseError::None, spec, true);
        return;
    }
    // Extra words after a command without arguments are ignored, as most
    // servers do; a missing required argument is refused here.
    if (spec->arg == ArgRule::Required && cmd.argument.trimmed().isEmpty()) {
        target.rejectCommand(cmd, ParseError::None, spec, false);
        return;
    }
    target.runCommand(*spec, cmd.argument);
}

} // namespace kv::engine
