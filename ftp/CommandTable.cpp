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
    static constexpr std::optional<files::FileOperation> Unchecked = std::nullopt;

    // clang-format off
    static constexpr auto rows = [] {
        using enum ArgRule;
        using enum files::FileOperation;
        using enum Keeps;
        return std::to_array<CommandInfo>({
        // verb     handler            login    argument   operation    keeps          during a transfer, data, TLS only
        {"USER",  &S::cmdUser,       Anyone,  Required,  Unchecked,   Nothing,       Waits},
        {"PASS",  &S::cmdPass,       Anyone,  Optional,  Unchecked,   Nothing,       Waits},
        {"ACCT",  &S::cmdNotNeeded,  Anyone,  Optional,  Unchecked,   Nothing,       Waits},
        {"CWD",   &S::cmdCwd,        Login,   Optional,  ChangeDir,   Nothing,       Waits},
        {"XCWD",  &S::cmdCwd,        Login,   Optional,  ChangeDir,   Nothing,       Waits},
        {"CDUP",  &S::cmdCdup,       Login,   None,      ChangeDir,   Nothing,       Waits},
        {"XCUP",  &S::cmdCdup,       Login,   None,      ChangeDir,   Nothing,       Waits},
        {"PWD",   &S::cmdPwd,        Login,   None,      Unchecked,   Nothing,       Waits},
        {"XPWD",  &S::cmdPwd,        Login,   None,      Unchecked,   Nothing,       Waits},
        {"MKD",   &S::cmdMkd,        Login,   Required,  MakeDir,     Nothing,       Waits},
        {"XMKD",  &S::cmdMkd,        Login,   Required,  MakeDir,     Nothing,       Waits},
        {"RMD",   &S::cmdRmd,        Login,   Required,  RemoveDir,   Nothing,       Waits},
        {"XRMD",  &S::cmdRmd,        Login,   Required,  RemoveDir,   Nothing,       Waits},
        {"DELE",  &S::cmdDele,       Login,   Required,  Delete,      Nothing,       Waits},
        {"RNFR",  &S::cmdRnfr,       Login,   Required,  Unchecked,   RenameSource,  Waits},
        {"RNTO",  &S::cmdRnto,       Login,   Required,  Rename,      RenameSource,  Waits},
        {"LIST",  &S::cmdList,       Login,   Optional,  List,        Nothing,       Waits, Data},
        {"NLST",  &S::cmdNlst,       Login,   Optional,  List,        Nothing,       Waits, Data},
        {"MLSD",  &S::cmdMlsd,       Login,   Optional,  List,        Nothing,       Waits, Data},
        {"MLST",  &S::cmdMlst,       Login,   Optional,  List,        Nothing,       Waits},
        {"RETR",  &S::cmdRetr,       Login,   Required,  Download,    RestOffset,    Waits, Data},
        {"STOR",  &S::cmdStor,       Login,   Required,  Upload,      RestOffset,    Waits, Data},
        {"APPE",  &S::cmdAppe,       Login,   Required,  Upload,      Nothing,       Waits, Data},
        {"STOU",  &S::cmdStou,       Login,   Optional,  Upload,      Nothing,       Waits, Data},
        {"REST",  &S::cmdRest,       Login,   Required,  Unchecked,   RestOffset,    Waits},
        {"ABOR",  &S::cmdAbor,       Login,   None,      Unchecked,   Nothing,       AtOnce},
        {"TYPE",  &S::cmdType,       Login,   Required,  Unchecked,   RestOffset,    Waits},
        {"MODE",  &S::cmdMode,       Login,   Required,  Unchecked,   Nothing,       Waits},
        {"STRU",  &S::cmdStru,       Login,   Required,  Unchecked,   Nothing,       Waits},
        {"ALLO",  &S::cmdAllo,       Login,   Optional,  Unchecked,   Nothing,       Waits},
        {"AVBL",  &S::cmdAvbl,       Login,   Optional,  FreeSpace,   Nothing,       Waits},
        {"SYST",  &S::cmdSyst,       Anyone,  None,      Unchecked,   Nothing,       Waits},
        {"STAT",  &S::cmdStat,       Login,   Optional,  Unchecked,   Nothing,       AtOnce},
        {"HELP",  &S::cmdHelp,       Anyone,  Optional,  Unchecked,   Nothing,       Waits},
        {"NOOP",  &S::cmdNoop,       Anyone,  None,      Unchecked,   Nothing,       AtOnce},
        {"QUIT",  &S::cmdQuit,       Anyone,  None,      Unchecked,   Nothing,       AtOnce},
        {"SITE",  &S::cmdSite,       Login,   Required,  Unchecked,   Nothing,       Waits},
        {"CLNT",  &S::cmdClnt,       Anyone,  Optional,  Unchecked,   Nothing,       Waits},
        {"FEAT",  &S::cmdFeat,       Anyone,  None,      Unchecked,   Nothing,       Waits},
        {"OPTS",  &S::cmdOpts,       Anyone,  Required,  Unchecked,   Nothing,       Waits},
        {"SIZE",  &S::cmdSize,       Login,   Required,  Stat,        Nothing,       Waits},
        {"MDTM",  &S::cmdMdtm,       Login,   Required,  Stat,        Nothing,       Waits},
        {"MFMT",  &S::cmdMfmt,       Login,   Required,  SetTime,     Nothing,       Waits},
        {"HASH",  &S::cmdHash,       Login,   Required,  Checksum,    Nothing,       Waits},
        {"XSHA256", &S::cmdXsha256,  Login,   Required,  Checksum,    Nothing,       Waits},
        {"XSHA1", &S::cmdXsha1,      Login,   Required,  Checksum,    Nothing,       Waits},
        {"XMD5",  &S::cmdXmd5,       Login,   Required,  Checksum,    Nothing,       Waits},
        {"XCRC",  &S::cmdXcrc,       Login,   Required,  Checksum,    Nothing,       Waits},
        {"PASV",  &S::cmdPasv,       Login,   None,      Unchecked,   RestOffset,    Waits},
        {"EPSV",  &S::cmdEpsv,       Login,   Optional,  Unchecked,   RestOffset,    Waits},
        {"PORT",  &S::cmdPort,       Login,   Required,  Unchecked,   RestOffset,    Waits},
        {"EPRT",  &S::cmdEprt,       Login,   Required,  Unchecked,   RestOffset,    Waits},
        {"AUTH",  &S::cmdAuth,       Anyone,  Required,  Unchecked,   Nothing,       Waits, NoData, Tls},
        {"PBSZ",  &S::cmdPbsz,       Anyone,  Required,  Unchecked,   Nothing,       Waits, NoData, Tls},
        {"PROT",  &S::cmdProt,       Anyone,  Required,  Unchecked,   Nothing,       Waits, NoData, Tls},
        {"CCC",   &S::cmdCcc,        Anyone,  None,      Unchecked,   Nothing,       Waits, NoData, Tls},
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
