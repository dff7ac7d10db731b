// How an SFTP session logs in: a password or a listed key, decided by the
// same rules as an FTP login, and failed attempts counted towards bans.
#include "sftp/SftpSession.h"

#include "files/FileService.h"
#include "session/FailedLogin.h"
#include "session/TransferNews.h"
#include "sftp/PublicKeyLine.h"

namespace kv::sftp {

namespace {

// Wrong passwords on one connection before it is closed, as OpenSSH.
constexpr int kMaxFailedLogins = 6;

SftpSession* of(void* self) {
    return static_cast<SftpSession*>(self);
}

QString kindText(events::TransferKind kind) {
    return kind == events::TransferKind::Upload ? QStringLiteral("upload")
                                                : QStringLiteral("download");
}

} // namespace

void SftpSession::countFailedLogin(const QString& user, const QString& reason, bool counted) {
    refusedKeyUser_.clear();
    loginRefusal_ = reason;
    // SSH answers an authentication attempt from within libssh's callback:
    // the refusal cannot wait there as FTP's does, so it is only counted.
    const session::FailedLoginPlace place{context_->bans, context_->bus,
                                          [this](const QString& line) { log(line); }};
    session::recordFailedLogin(place, {sessionInfo(), user, reason, counted},
                               QStringLiteral("SFTP: login rifiutato"));
}

void SftpSession::countRefusedKeyProbe() {
    if (!loggedIn_ && !refusedKeyUser_.isEmpty())
        countFailedLogin(refusedKeyUser_, QStringLiteral("chiave non autorizzata"));
}

int SftpSession::answerKeyProbe(const QString& user, const QString& fingerprint) {
    if (loggedIn_ || !context_->keys)
        return SSH_AUTH_DENIED;
    loginAddress_ = remoteHost_;
    if (context_->bans && context_->bans->isBanned(remoteHost_)) {
        closeSoon(QStringLiteral("indirizzo bloccato"));
        return SSH_AUTH_DENIED;
    }
    userName_ = user;
    switch (context_->keys->KeyIsListed(user, fingerprint)) {
    case KeyListed::Yes:
        return SSH_AUTH_SUCCESS; // "go on and sign"
    case KeyListed::Unknown:
        log(QStringLiteral("Login non deciso: impossibile leggere gli account (chiavi)"));
        closeSoon(QStringLiteral("account non leggibili"));
        return SSH_AUTH_DENIED;
    case KeyListed::No:
        break;
    }
    // Clients offer their keys one after the other: only giving up counts.
    refusedKeyUser_ = user;
    if (++failedLogins_ >= kMaxFailedLogins) {
        countRefusedKeyProbe();
        closeSoon(QStringLiteral("troppi tentativi"));
    }
    return SSH_AUTH_DENIED;
}

int SftpSession::decideLogin(const QString& user, const QString& password,
                             const QString& keyFingerprint) {
    if (loggedIn_)
        return SSH_AUTH_DENIED;
    session::LoginBans* bans = context_->bans;
    loginAddress_ = remoteHost_;
    if (bans && bans->isBanned(remoteHost_)) {
        closeSoon(QStringLiteral("indirizzo bloccato"));
        return SSH_AUTH_DENIED;
    }
    userName_ = user;
    password_ = password;
    const auto refusedHere = [](const char* why) {
        return session::LoginDecision::refused(QString::fromUtf8(why));
    };
    const session::LoginDecision decision =
        !keyFingerprint.isEmpty()
            ? (context_->keys ? context_->keys->KeyLoginRequest(*this, keyFingerprint)
                              : refusedHere("accesso con chiave non previsto"))
        : context_->events ? context_->events->LoginRequest(*this)
                           : refusedHere("nessun gestore degli accessi");
    password_.clear();
    if (decision.outcome == session::LoginDecision::Outcome::Unavailable) {
        log(QStringLiteral("Login non deciso: %1").arg(decision.reason));
        closeSoon(decision.reason);
        return SSH_AUTH_DENIED;
    }
    if (decision.outcome != session::LoginDecision::Outcome::Accepted || !decision.grant) {
        countFailedLogin(user, decision.reason, decision.countsTowardsBan);
        if (++failedLogins_ >= kMaxFailedLogins)
            closeSoon(QStringLiteral("troppi tentativi"));
        return SSH_AUTH_DENIED;
    }
    loggedIn_ = true;
    loginRefusal_.clear();
    grant_ = decision.grant;
    const quint64 id = id_;
    const QString address = remoteHost_;
    const QString login = userName_;
    events::ServerEvents* bus = context_->bus;
    auto files = std::make_unique<files::FileService>(
        grant_, context_->followLinks,
        [bus, id, address, login](events::FileEvent e) {
            e.session = {id, address, login, events::Protocol::Sftp};
            if (bus)
                Q_EMIT bus->fileChanged(e);
        },
        context_->areas, context_->ownFiles);
    const QStringList notes = files->notes();
    SftpRequests::Observer observer;
    observer.started = [this](const TransferNote& t) {
        const auto now = [this, &t] {
            return events::TransferEvent{sessionInfo(),
                                         t.kind,
                                         t.clientPath,
                                         t.diskPath,
                                         t.bytes,
                                         t.size,
                                         events::TransferOutcome::Running,
                                         {}};
        };
        events::ServerEvents* bus = context_->bus;
        if (!bus)
            return;
        if (!bus->progressWanted()) {
            // Nobody follows progress: a small file costs no news object.
            Q_EMIT bus->transferStarted(now());
            return;
        }
        // Told started now, then progress while anybody listens; the note
        // lives with its handle until finished below.
        auto news = std::make_unique<session::TransferNews>(bus, now);
        news->started();
        news_[&t] = std::move(news);
    };
    observer.finished = [this](const TransferNote& t, events::TransferOutcome outcome) {
        if (!news_.empty())
            news_.erase(&t);
        const bool complete = outcome == events::TransferOutcome::Complete;
        log(QStringLiteral("SFTP %1 %2: %3 byte%4")
                .arg(kindText(t.kind), t.clientPath)
                .arg(t.bytes)
                .arg(complete              ? QString()
                     : t.failure.isEmpty() ? QStringLiteral(", interrotto")
                                           : QStringLiteral(", interrotto (%1)").arg(t.failure)));
        if (!context_->bus)
            return;
        const events::TransferEvent e{
            sessionInfo(),
            t.kind,
            t.clientPath,
            t.diskPath,
            t.bytes,
            t.size,
            outcome,
            complete ? QString()
                     : (t.failure.isEmpty() ? QStringLiteral("connessione chiusa") : t.failure),
            complete ? t.fileSize : -1};
        // Listeners (actions, statistics) may take their time: while requests
        // are being answered the reply to CLOSE goes out first.
        if (serving_)
            finishedLater_.append(e);
        else
            Q_EMIT context_->bus->transferFinished(e);
    };
    requests_ = std::make_unique<SftpRequests>(std::move(files), std::move(observer));
    SftpCommands::Hooks hooks;
    hooks.log = [this](const QString& line) { log(line); };
    hooks.progressed = [this] {
        // A command at work keeps the connection from counting as idle.
        if (context_->timeoutSeconds > 0)
            idleTimer_.start(context_->timeoutSeconds * 1000);
        queueTurn();
    };
    commands_ =
        std::make_unique<SftpCommands>(requests_->files(), context_->hashWorkers, std::move(hooks));
    refusedKeyUser_.clear();
    log(keyFingerprint.isEmpty() ? QStringLiteral("SFTP: utente %1 collegato").arg(userName_)
                                 : QStringLiteral("SFTP: utente %1 collegato con la chiave %2")
                                       .arg(userName_, keyFingerprint));
    for (const QString& note : notes)
        log(note);
    if (context_->bus)
        Q_EMIT context_->bus->loggedIn(sessionInfo());
    return SSH_AUTH_SUCCESS;
}

int SftpSession::onAuthPassword(ssh_session, const char* user, const char* password, void* self) {
    if (!of(self)->context_->passwordAuth)
        return SSH_AUTH_DENIED;
    return of(self)->decideLogin(QString::fromUtf8(user), QString::fromUtf8(password));
}

int SftpSession::onAuthNone(ssh_session, const char*, void*) {
    return SSH_AUTH_DENIED;
}

int SftpSession::onAuthPubkey(ssh_session, const char* user, ssh_key_struct* key, char state,
                              void* self) {
    SftpSession* s = of(self);
    const QString login = QString::fromUtf8(user);
    const QString fingerprint = keyFingerprint(key);
    if (fingerprint.isEmpty())
        return SSH_AUTH_DENIED;
    if (state == SSH_PUBLICKEY_STATE_NONE)
        return s->answerKeyProbe(login, fingerprint);
    if (state != SSH_PUBLICKEY_STATE_VALID) {
        // A signature that does not verify: as a wrong password.
        if (!s->loggedIn_) {
            s->loginAddress_ = s->remoteHost_;
            s->countFailedLogin(login, QStringLiteral("firma della chiave non valida"));
            if (++s->failedLogins_ >= kMaxFailedLogins)
                s->closeSoon(QStringLiteral("troppi tentativi"));
        }
        return SSH_AUTH_DENIED;
    }
    return s->decideLogin(login, QString(), fingerprint);
}

} // namespace kv::sftp
