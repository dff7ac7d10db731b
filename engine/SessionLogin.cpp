// Login of a control session: USER and PASS, the login check asked of the
// program, and the connection closed after too many wrong passwords.

#include "engine/ControlSession.h"

#include "engine/EngineLimits.h"
#include "engine/EngineSettings.h"

namespace kv::engine {

void ControlSession::cmdUser(const QString& arg) {
    if (loggedIn_) {
        reply(Reply::CannotReRegister);
        return;
    }
    userName_ = arg;
    password_.clear();
    userGiven_ = true;
    reply(Reply::PasswordRequired, {userName_});
}

void ControlSession::cmdPass(const QString& arg) {
    if (loggedIn_) {
        reply(Reply::AlreadyLoggedIn);
        return;
    }
    if (!userGiven_) {
        reply(Reply::LoginWithUserFirst);
        return;
    }
    userGiven_ = false;
    Verdict verdict = Verdict::Deny;
    if (arg.size() <= kMaxPasswordLength) {
        password_ = arg;
        // Each login starts from the server's root with no virtual folders;
        // the login handler may change both.
        rootDir_ = settings_.serverRootDir;
        virtualDirs_.clear();
        if (events_)
            verdict = events_->LoginRequest(*this);
        if (closed_)
            return;
    }
    if (verdict == Verdict::Deny) {
        password_.clear();
        reply(Reply::LoginIncorrect);
        if (++failedLogins_ >= kMaxFailedLogins)
            closeWith(settings_.replies.format(Reply::TooManyFailedLogins));
        return;
    }
    failedLogins_ = 0;
    loggedIn_ = true;
    cwd_ = QStringLiteral("/");
    vfs_ = VirtualFileSystem(rootDir_, virtualDirs_.items(), settings_.resolveLinks != 0);
    reply(Reply::LoggedIn, {userName_});
}

} // namespace kv::engine
