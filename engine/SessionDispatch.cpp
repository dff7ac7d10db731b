// How a control session runs one command line: logged, dispatched through
// the command table, refused with the right error, or run with the pending
// REST / RNFR state and the operator's check its row declares.

#include "engine/ControlSession.h"
#include "engine/LogText.h"

namespace kv::engine {

namespace {

Verdict ask(EngineEvents& events, CheckEvent check, ConnectionObject& c, const QString& path,
            const QString& newPath) {
    switch (check) {
    case CheckEvent::Unchecked:
        break;
    case CheckEvent::ChangeDir:
        return events.ChangeDirCheck(c, path);
    case CheckEvent::MakeDir:
        return events.MakeDirCheck(c, path);
    case CheckEvent::RemoveDir:
        return events.RemoveDirCheck(c, path);
    case CheckEvent::Delete:
        return events.DeleteCheck(c, path);
    case CheckEvent::Rename:
        return events.RenameCheck(c, path, newPath);
    case CheckEvent::Upload:
        return events.UploadCheck(c, path);
    case CheckEvent::Download:
        return events.DownloadCheck(c, path);
    case CheckEvent::Site:
        return events.OtherCheckA(c, path);
    case CheckEvent::ModifyTime:
        return events.OtherCheckB(c, path);
    }
    return Verdict::Allow;
}

} // namespace

void ControlSession::handleLine(const QByteArray& line) {
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

bool ControlSession::refusedByCheck(const QString& path, const QString& newPath) {
    const CheckEvent check = running_ ? running_->check : CheckEvent::Unchecked;
    if (check == CheckEvent::Unchecked)
        return false;
    return refuse(events_ ? ask(*events_, check, *this, path, newPath) : Verdict::Deny);
}

bool ControlSession::refuse(Verdict verdict) {
    if (closed_) // the handler closed the connection
        return true;
    if (verdict == Verdict::Deny) {
        reply(Reply::AccessDenied);
        return true;
    }
    return false;
}

} // namespace kv::engine
