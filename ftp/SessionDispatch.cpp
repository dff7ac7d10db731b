// How a control session runs one command line: logged, dispatched through
// the command table, refused with the right error, or run with the pending
// REST / RNFR state it may use.

#include "ftp/CommandLog.h"
#include "ftp/ControlSession.h"
#include "ftp/ReplyPacer.h"

namespace kv::ftp {

void ControlSession::handleLine(const QByteArray& line) {
    commandArrived_ = ReplyPacer::now();
    silentSinceTls_ = false;
    restartIdleTimer();
    const ParsedCommand cmd = parseCommandLine(line);
    log(commandLineForLog(line));
    dispatchCommand(*this, cmd);
}

void ControlSession::rejectCommand(const ParsedCommand& cmd, ParseError error,
                                   const CommandInfo* info, bool loginMissing) {
    if (loginMissing)
        reply(Reply::PleaseLogin);
    else if (info) // an argument is missing
        reply(Reply::NeedMoreArguments, {QString::fromLatin1(info->verb)});
    else if (error == ParseError::ControlChar || error == ParseError::BadEncoding)
        reply(Reply::SyntaxError);
    else
        reply(Reply::NotUnderstood, {cmd.verb});
}

void ControlSession::runCommand(const CommandInfo& info, const QString& arg) {
    if (info.keeps != Keeps::RestOffset)
        restOffset_ = 0;
    if (info.keeps != Keeps::RenameSource)
        renameFrom_.reset();
    if (info.movesData && refusedClearData())
        return;
    const CommandInfo* outer = std::exchange(running_, &info);
    (this->*info.handler)(arg);
    running_ = outer;
}

} // namespace kv::ftp
