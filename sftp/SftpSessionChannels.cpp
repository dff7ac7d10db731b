// The channels of an SFTP session: "session" channels a logged-in client
// opens, each serving the sftp subsystem (once per connection) or a
// checksum command; shells, terminals, other subsystems and any other
// command are refused. Channels the client closed, and commands that
// ended, are let go of from the event loop, never inside libssh's callbacks.
#include "sftp/SftpSession.h"

#include <libssh/server.h>

namespace kv::sftp {

namespace {

// Channels one connection may hold open at once: the sftp one and a few
// commands (rclone runs one at a time beside its sftp channel).
constexpr qsizetype kMaxChannels = 4;
// Requests a client sends without reading the answers: past this it is cut off.
constexpr qsizetype kInputLimit = 16 * 1024 * 1024;

SftpSession* of(void* self) {
    return static_cast<SftpSession*>(self);
}

} // namespace

ssh_channel SftpSession::onChannelOpen(ssh_session session, void* self) {
    SftpSession* s = of(self);
    if (!s->loggedIn_ || s->closed_ || s->channels_.size() >= kMaxChannels)
        return nullptr;
    ssh_channel channel = ssh_channel_new(session);
    if (!channel)
        return nullptr;
    ssh_set_channel_callbacks(channel, &s->channelCallbacks_);
    s->channels_.append(channel);
    return channel;
}

int SftpSession::onChannelData(ssh_session, ssh_channel channel, void* data, uint32_t len,
                               int stderr_, void* self) {
    SftpSession* s = of(self);
    if (stderr_ || s->closed_)
        return int(len);
    const QByteArrayView bytes(static_cast<const char*>(data), qsizetype(len));
    if (channel != s->channel_ || !s->sftpStarted_) {
        if (s->commands_)
            s->commands_->takeInput(channel, bytes);
        return int(len);
    }
    if (s->framer_.buffered() > kInputLimit) {
        s->log(QStringLiteral("SFTP: troppe richieste in attesa, connessione chiusa"));
        s->closeSoon(QStringLiteral("troppe richieste"));
        return int(len);
    }
    s->framer_.append(bytes);
    s->windowUsed_ += len;
    return int(len);
}

void SftpSession::onChannelEof(ssh_session, ssh_channel channel, void* self) {
    SftpSession* s = of(self);
    if (channel == s->channel_) {
        // The connection stays until the client leaves (clients report an
        // error when the server hangs up first); only the file work ends now.
        QMetaObject::invokeMethod(s, &SftpSession::endChannel, Qt::QueuedConnection);
    } else if (s->commands_) {
        s->commands_->endInput(channel);
    }
}

void SftpSession::onChannelClose(ssh_session, ssh_channel channel, void* self) {
    // A channel this session already let go of is libssh's to free now.
    SftpSession* s = of(self);
    if (s->closed_ || !s->channels_.contains(channel) || s->closedByClient_.contains(channel))
        return;
    s->closedByClient_.append(channel);
    s->queueTurn();
}

void SftpSession::tendChannels() {
    if (closed_)
        return;
    const auto release = [this](ssh_channel channel) {
        channels_.removeOne(channel);
        // Sends our close if it was not sent; freed at once or on the client's close.
        ssh_channel_free(channel);
    };
    for (ssh_channel channel : std::exchange(closedByClient_, {})) {
        if (channel == channel_) {
            endChannel();
            channel_ = nullptr;
            output_.clear(); // replies nobody will read
            outputSent_ = 0;
        } else if (commands_) {
            commands_->forget(channel);
        }
        release(channel);
    }
    if (commands_) {
        for (ssh_channel channel : commands_->flush())
            release(channel);
    }
}

void SftpSession::endChannel() {
    if (closed_ || !sftpStarted_)
        return;
    // Requests that came before the end of input are answered first, as
    // sftp-server answers what it read: the last poll may have taken them in
    // together with the end, after this turn had served its requests.
    serveRequests();
    if (closed_)
        return;
    sftpStarted_ = false;
    reportFinished();
    if (requests_)
        requests_->abortAll();
    finishSftpChannel(0);
    updateNotifiers();
}

void SftpSession::finishSftpChannel(int exitStatus) {
    if (!channel_ || !ssh_channel_is_open(channel_))
        return;
    // As OpenSSH's sshd when sftp-server exits: clients (scp, ssh -s) take
    // their own exit status from it, and report a failure without it.
    ssh_channel_request_send_exit_status(channel_, exitStatus);
    ssh_channel_send_eof(channel_);
    ssh_channel_close(channel_);
}

int SftpSession::onSubsystem(ssh_session, ssh_channel channel, const char* name, void* self) {
    SftpSession* s = of(self);
    if (qstrcmp(name, "sftp") != 0 || s->sftpOpened_ ||
        (s->commands_ && s->commands_->owns(channel))) {
        s->log(QStringLiteral("SFTP: richiesta rifiutata (sottosistema %1)")
                   .arg(QString::fromUtf8(name)));
        return -1;
    }
    s->channel_ = channel;
    s->sftpOpened_ = true;
    s->sftpStarted_ = true;
    s->windowUsed_ = kChannelWindow; // widened on the next turn
    return 0;
}

int SftpSession::onRefusedRequest(ssh_session, ssh_channel, void* self) {
    of(self)->log(QStringLiteral("SFTP: richiesta rifiutata (shell)"));
    return -1;
}

int SftpSession::onExec(ssh_session, ssh_channel channel, const char* command, void* self) {
    SftpSession* s = of(self);
    if (channel == s->channel_ || !s->commands_) {
        s->log(
            QStringLiteral("SFTP: richiesta rifiutata (exec %1)").arg(QString::fromUtf8(command)));
        return -1;
    }
    return s->commands_->exec(channel, QByteArrayView(command)) ? 0 : -1;
}

int SftpSession::onPty(ssh_session, ssh_channel, const char*, int, int, int, int, void*) {
    return -1;
}

int SftpSession::onWindowGrown(ssh_session, ssh_channel, uint32_t, void* self) {
    // Called from inside libssh's poll, also whenever the socket is merely
    // writable: a turn is queued only for output held back by a window.
    SftpSession* s = of(self);
    if (s->outputSent_ < s->output_.size() || (s->commands_ && s->commands_->waiting()))
        s->queueTurn();
    return 0;
}

} // namespace kv::sftp
