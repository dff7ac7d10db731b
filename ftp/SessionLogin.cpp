// Login of a control session: USER and PASS, the login decision asked of the
// program (which grants what the session may do), the connection closed after
// too many wrong passwords, and, while bans are on, each refusal counted for
// the address and answered late.

#include "ftp/ControlSession.h"

#include "ftp/EngineLimits.h"
#include "ftp/EngineSettings.h"
#include "ftp/StreamSocket.h"
#include "ftp/TurnQueue.h"
#include "session/FailedLogin.h"
#include "session/LoginBans.h"

namespace kv::ftp {

bool ControlSession::needsTlsFirst(const QString& user) const {
    // The anonymous account's password is no secret, so it may stay clear.
    return settings_.tls.mode == TlsMode::Required && !socket_->isEncrypted() &&
           user.compare(u"anonymous", Qt::CaseInsensitive) != 0;
}

void ControlSession::resetLogin() {
    loggedIn_ = false;
    userGiven_ = false;
    userName_.clear();
    password_.clear();
    grant_.reset();
    files_ = files::FileService(nullptr, false);
    permTable_ = PermTable();
}

void ControlSession::cmdUser(const QString& arg) {
    if (loggedIn_) {
        reply(Reply::CannotReRegister);
        return;
    }
    if (needsTlsFirst(arg)) {
        // The same answer for every name: nothing tells whether it exists.
        userGiven_ = false;
        userName_.clear();
        reply(Reply::TlsRequiredForLogin);
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
    if (needsTlsFirst(userGiven_ ? userName_ : QString())) {
        reply(Reply::TlsRequiredForLogin);
        return;
    }
    if (!userGiven_) {
        reply(Reply::LoginWithUserFirst);
        return;
    }
    userGiven_ = false;
    if (arg.size() > session::kMaxPasswordLength) {
        finishLogin(session::LoginDecision::refused(QStringLiteral("password troppo lunga")));
        return;
    }
    password_ = arg;
    if (!settings_.loginTurns) {
        decideLogin();
        return;
    }
    // Verifying a password hash takes milliseconds: each verdict gets a turn
    // of its own, so the other sessions are served in between.
    awaitingVerdict_ = true;
    idleTimer_.stop();
    settings_.loginTurns->post(this, [this] {
        if (closed_)
            return;
        // Still waiting while the program decides: a ban this refusal starts
        // closes the session only after the answer.
        decideLogin();
        awaitingVerdict_ = false;
        restartIdleTimer();
        processInput();
    });
}

void ControlSession::decideLogin() {
    // Guesses sent in parallel before the ban started wait for their turn:
    // once the address is banned, none of them is decided any more.
    if (settings_.bans && settings_.bans->isBanned(remoteHost_)) {
        password_.clear();
        closeWith(settings_.replies.format(Reply::AddressBanned));
        return;
    }
    loginAddress_ = remoteHost_;
    const session::LoginDecision decision =
        events_ ? events_->LoginRequest(*this)
                : session::LoginDecision::refused(QStringLiteral("nessun gestore degli accessi"));
    if (!closed_)
        finishLogin(decision);
}

void ControlSession::finishLogin(const session::LoginDecision& decision) {
    if (decision.outcome == session::LoginDecision::Outcome::Unavailable) {
        refuseUnavailable(decision.reason);
        return;
    }
    if (decision.outcome != session::LoginDecision::Outcome::Accepted || !decision.grant) {
        const QString login = userName_;
        password_.clear();
        loginRefusal_ = decision.reason;
        const session::FailedLoginPlace place{settings_.bans, notifications(),
                                              [this](const QString& line) { log(line); }};
        if (session::recordFailedLogin(
                place, {sessionInfo(), login, decision.reason, decision.countsTowardsBan},
                QStringLiteral("Login rifiutato"))) {
            // A timer, so other sessions go on; the input waits meanwhile.
            loginDelay_.start(session::kFailedLoginDelayMs);
            idleTimer_.stop();
            return;
        }
        refuseLogin();
        return;
    }
    failedLogins_ = 0;
    loggedIn_ = true;
    loginRefusal_.clear();
    grant_ = decision.grant;
    startFileService();
    for (const QString& note : files_.notes())
        log(note);
    reply(Reply::LoggedIn, {userName_});
    if (events::ServerEvents* bus = notifications())
        Q_EMIT bus->loggedIn(sessionInfo());
}

void ControlSession::refuseUnavailable(const QString& reason) {
    // Nobody's fault but the server's: not counted as a failed attempt.
    password_.clear();
    log(QStringLiteral("Login non deciso: %1").arg(reason));
    closeWith(settings_.replies.format(Reply::LoginUnavailable));
}

void ControlSession::refuseLogin() {
    reply(Reply::LoginIncorrect);
    if (++failedLogins_ >= kMaxFailedLogins)
        closeWith(settings_.replies.format(Reply::TooManyFailedLogins));
}

void ControlSession::onLoginDelayOver() {
    if (closed_)
        return;
    refuseLogin();
    restartIdleTimer();
    processInput();
}

} // namespace kv::ftp
