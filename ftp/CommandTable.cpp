// The command table itself and the dispatcher that checks each command's
// preconditions against it.

#include "ftp/CommandTable.h"

#include "ftp/ControlSession.h"

#include <array>

namespace kv::ftp {

// A friend of ControlSession, so the rows can name its private handlers.
struct CommandRows {
    using S = ControlSession;
    static constexpr bool Login = true;
    static constexpr bool Anyone = false;
    static constexpr bool Waits = false;
    static constexpr bool AtOnce = true;
    static constexpr bool Data = true;
    static constexpr bool NoData = false;
    static constexpr bool Tls = true;

    // clang-format off
    static constexpr auto rows = [] {
        using enum ArgRule;
        using enum Keeps;
        return std::to_array<CommandInfo>({
        // verb     handler            login    argument   keeps          during a transfer, data, TLS only
        {"USER",  &S::cmdUser,       Anyone,  Required,  Nothing,       Waits},
        {"PASS",  &S::cmdPass,       Anyone,  Optional,  Nothing,       Waits},
        {"ACCT",  &S::cmdNotNeeded,  Anyone,  Optional,  Nothing,       Waits},
        {"CWD",   &S::cmdCwd,        Login,   Optional,  Nothing,       Waits},
        {"XCWD",  &S::cmdCwd,        Login,   Optional,  Nothing,       Waits},
        {"CDUP",  &S::cmdCdup,       Login,   None,      Nothing,       Waits},
        {"XCUP",  &S::cmdCdup,       Login,   None,      Nothing,       Waits},
        {"PWD",   &S::cmdPwd,        Login,   None,      Nothing,       Waits},
        {"XPWD",  &S::cmdPwd,        Login,   None,      Nothing,       Waits},
        {"MKD",   &S::cmdMkd,        Login,   Required,  Nothing,       Waits},
        {"XMKD",  &S::cmdMkd,        Login,   Required,  Nothing,       Waits},
        {"RMD",   &S::cmdRmd,        Login,   Required,  Nothing,       Waits},
        {"XRMD",  &S::cmdRmd,        Login,   Required,  Nothing,       Waits},
        {"DELE",  &S::cmdDele,       Login,   Required,  Nothing,       Waits},
        {"RNFR",  &S::cmdRnfr,       Login,   Required,  RenameSource,  Waits},
        {"RNTO",  &S::cmdRnto,       Login,   Required,  RenameSource,  Waits},
        {"LIST",  &S::cmdList,       Login,   Optional,  Nothing,       Waits, Data},
        {"NLST",  &S::cmdNlst,       Login,   Optional,  Nothing,       Waits, Data},
        {"MLSD",  &S::cmdMlsd,       Login,   Optional,  Nothing,       Waits, Data},
        {"MLST",  &S::cmdMlst,       Login,   Optional,  Nothing,       Waits},
        {"RETR",  &S::cmdRetr,       Login,   Required,  RestOffset,    Waits, Data},
        {"STOR",  &S::cmdStor,       Login,   Required,  RestOffset,    Waits, Data},
        {"APPE",  &S::cmdAppe,       Login,   Required,  Nothing,       Waits, Data},
        {"STOU",  &S::cmdStou,       Login,   Optional,  Nothing,       Waits, Data},
        {"REST",  &S::cmdRest,       Login,   Required,  RestOffset,    Waits},
        {"ABOR",  &S::cmdAbor,       Login,   None,      Nothing,       AtOnce},
        {"TYPE",  &S::cmdType,       Login,   Required,  RestOffset,    Waits},
        {"MODE",  &S::cmdMode,       Login,   Required,  Nothing,       Waits},
        {"STRU",  &S::cmdStru,       Login,   Required,  Nothing,       Waits},
        {"ALLO",  &S::cmdAllo,       Login,   Optional,  Nothing,       Waits},
        {"AVBL",  &S::cmdAvbl,       Login,   Optional,  Nothing,       Waits},
        {"SYST",  &S::cmdSyst,       Anyone,  None,      Nothing,       Waits},
        {"STAT",  &S::cmdStat,       Login,   Optional,  Nothing,       AtOnce},
        {"HELP",  &S::cmdHelp,       Anyone,  Optional,  Nothing,       Waits},
        {"NOOP",  &S::cmdNoop,       Anyone,  None,      Nothing,       AtOnce},
        {"QUIT",  &S::cmdQuit,       Anyone,  None,      Nothing,       AtOnce},
        {"SITE",  &S::cmdSite,       Login,   Required,  Nothing,       Waits},
        {"CLNT",  &S::cmdClnt,       Anyone,  Optional,  Nothing,       Waits},
        {"FEAT",  &S::cmdFeat,       Anyone,  None,      Nothing,       Waits},
        {"OPTS",  &S::cmdOpts,       Anyone,  Required,  Nothing,       Waits},
        {"SIZE",  &S::cmdSize,       Login,   Required,  Nothing,       Waits},
        {"MDTM",  &S::cmdMdtm,       Login,   Required,  Nothing,       Waits},
        {"MFMT",  &S::cmdMfmt,       Login,   Required,  Nothing,       Waits},
        {"HASH",  &S::cmdHash,       Login,   Required,  Nothing,       Waits},
        {"XSHA256", &S::cmdXsha256,  Login,   Required,  Nothing,       Waits},
        {"XSHA1", &S::cmdXsha1,      Login,   Required,  Nothing,       Waits},
        {"XMD5",  &S::cmdXmd5,       Login,   Required,  Nothing,       Waits},
        {"XCRC",  &S::cmdXcrc,       Login,   Required,  Nothing,       Waits},
        {"PASV",  &S::cmdPasv,       Login,   None,      RestOffset,    Waits},
        {"EPSV",  &S::cmdEpsv,       Login,   Optional,  RestOffset,    Waits},
        {"PORT",  &S::cmdPort,       Login,   Required,  RestOffset,    Waits},
        {"EPRT",  &S::cmdEprt,       Login,   Required,  RestOffset,    Waits},
        {"AUTH",  &S::cmdAuth,       Anyone,  Required,  Nothing,       Waits, NoData, Tls},
        {"PBSZ",  &S::cmdPbsz,       Anyone,  Required,  Nothing,       Waits, NoData, Tls},
        {"PROT",  &S::cmdProt,       Anyone,  Required,  Nothing,       Waits, NoData, Tls},
        {"CCC",   &S::cmdCcc,        Anyone,  None,      Nothing,       Waits, NoData, Tls},
        });
    }();
    // clang-format on
};

const CommandInfo* findCommand(const QString& verb) {
    for (const CommandInfo& info : CommandRows::rows) {
        if (verb == QLatin1StringView(info.verb))
            return &info;
    }
    return nullptr;
}

QStringList commandVerbs(bool withTls) {
    QStringList verbs;
    for (const CommandInfo& info : CommandRows::rows) {
        if (withTls || !info.tlsOnly)
            verbs << QString::fromLatin1(info.verb);
    }
    return verbs;
}

void dispatchCommand(CommandTarget& target, const ParsedCommand& cmd) {
    if (!cmd.ok()) {
        target.rejectCommand(cmd, cmd.error, nullptr, false);
        return;
    }
    const CommandInfo* info = findCommand(cmd.verb);
    if (!info || (info->tlsOnly && !target.offersTls())) {
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

} // namespace kv::ftp
