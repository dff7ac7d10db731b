#include "sftp/SftpSession.h"

#include "files/FileService.h"
#include "session/LogText.h"

#include <QScopeGuard>

#include <algorithm>
#include <utility>

namespace kv::sftp {

namespace {

// Replies waiting for the client: past this, requests wait their turn.
constexpr qsizetype kOutputHighWater = 1024 * 1024;
// Reply bytes one turn of the event loop makes for one session; the rest
// waits for the next turn, so other sessions and the window go in between.
constexpr qsizetype kOutputPerTurn = 256 * 1024;
// Polls of the socket one turn makes for one session (libssh reads 4 KiB a poll),
// and request bytes taken in before they are served.
constexpr int kPollsPerTurn = 128;
constexpr quint64 kSocketReadSize = 4096;
constexpr qsizetype kInputPerTurn = 512 * 1024;

} // namespace

SftpSession::SftpSession(ssh_session session, const QString& host,
                         std::shared_ptr<const SftpContext> context, QObject* parent)
    : QObject(parent), ssh_(session), context_(std::move(context)) {
    id_ = events::nextSessionId();
    remoteHost_ = host;
    rootDir_ = context_->serverRoot;
    ssh_set_blocking(ssh_, 0);
    ssh_set_counters(ssh_, &socketCounter_, nullptr);

    serverCallbacks_.userdata = this;
    serverCallbacks_.auth_password_function = &SftpSession::onAuthPassword;
    serverCallbacks_.auth_none_function = &SftpSession::onAuthNone;
    serverCallbacks_.auth_pubkey_function = &SftpSession::onAuthPubkey;
    serverCallbacks_.service_request_function = &SftpSession::onServiceRequest;
    serverCallbacks_.channel_open_request_session_function = &SftpSession::onChannelOpen;
    ssh_callbacks_init(&serverCallbacks_);
    ssh_set_server_callbacks(ssh_, &serverCallbacks_);
    ssh_set_auth_methods(ssh_, SSH_AUTH_METHOD_PUBLICKEY |
                                   (context_->passwordAuth ? SSH_AUTH_METHOD_PASSWORD : 0));

    channelCallbacks_.userdata = this;
    channelCallbacks_.channel_data_function = &SftpSession::onChannelData;
    channelCallbacks_.channel_eof_function = &SftpSession::onChannelEof;
    channelCallbacks_.channel_close_function = &SftpSession::onChannelClose;
    channelCallbacks_.channel_subsystem_request_function = &SftpSession::onSubsystem;
    channelCallbacks_.channel_shell_request_function = &SftpSession::onRefusedRequest;
    channelCallbacks_.channel_exec_request_function = &SftpSession::onExec;
    channelCallbacks_.channel_pty_request_function = &SftpSession::onPty;
    channelCallbacks_.channel_write_wontblock_function = &SftpSession::onWindowGrown;
    ssh_callbacks_init(&channelCallbacks_);

    const int fd = ssh_get_fd(ssh_);
    readable_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    writable_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    writable_->setEnabled(false);
    connect(readable_, &QSocketNotifier::activated, this, &SftpSession::step);
    connect(writable_, &QSocketNotifier::activated, this, &SftpSession::step);
    idleTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this,
            [this] { closeWith(QStringLiteral("inattività")); });
}

SftpSession::~SftpSession() {
    commands_.reset();
    requests_.reset();
    if (event_) {
        ssh_event_remove_session(event_, ssh_);
        ssh_event_free(event_);
    }
    // Frees the channel too; libssh may already have let go of it on the client's close.
    ssh_free(ssh_);
}

events::SessionInfo SftpSession::sessionInfo() const {
    return {id_, remoteHost_, loggedIn_ ? userName_ : QString(), events::Protocol::Sftp};
}

void SftpSession::log(const QString& line) {
    // Names, logins and commands come from the client and may hold line
    // breaks or other control characters: escaped as in FTP's command
    // lines, so "q\nX" and "q X" never read alike.
    if (context_->events)
        context_->events->LogLine(*this, session::escapedForLog(line));
}

void SftpSession::start() {
    if (context_->bus)
        Q_EMIT context_->bus->sessionOpened(sessionInfo());
    if (context_->timeoutSeconds > 0)
        idleTimer_.start(context_->timeoutSeconds * 1000);
    step();
}

void SftpSession::Disconnect() {
    closeWith(QStringLiteral("dall'amministratore"));
}

session::TransferActivity SftpSession::Activity() const {
    session::TransferActivity a;
    if (!requests_)
        return a;
    a.sentTotal = requests_->sentTotal();
    a.receivedTotal = requests_->receivedTotal();
    if (const TransferNote* t = requests_->currentTransfer()) {
        a.direction = t->kind == events::TransferKind::Upload
                          ? session::TransferActivity::Direction::Upload
                          : session::TransferActivity::Direction::Download;
        a.path = t->clientPath;
        a.bytes = t->bytes;
        a.size = t->size;
    }
    return a;
}

void SftpSession::step() {
    if (closed_)
        return;
    if (!keysExchanged_) {
        const int rc = ssh_handle_key_exchange(ssh_);
        if (rc == SSH_AGAIN) {
            updateNotifiers();
            return;
        }
        if (rc != SSH_OK) {
            closeWith(QStringLiteral("scambio delle chiavi fallito: %1")
                          .arg(QString::fromUtf8(ssh_get_error(ssh_))));
            return;
        }
        keysExchanged_ = true;
        event_ = ssh_event_new();
        ssh_event_add_session(event_, ssh_);
    }
    // libssh reads at most a few KiB of the socket per poll: poll again while
    // it finds work, up to a bound, so one wake-up takes in a whole request
    // instead of a slice of it, and stops early once enough waits to be served.
    for (int polls = 0; !inputHeld_ && polls < kPollsPerTurn && framer_.buffered() < kInputPerTurn;
         ++polls) {
        const quint64 before = socketCounter_.in_bytes;
        const int rc = ssh_event_dopoll(event_, 0);
        if (rc == SSH_ERROR || closed_ ||
            (ssh_get_status(ssh_) & (SSH_CLOSED | SSH_CLOSED_ERROR))) {
            countRefusedKeyProbe();
            closeWith(QStringLiteral("connessione chiusa dal client"));
            return;
        }
        // libssh's poll also reports a writable socket: only a full read
        // (it reads kSocketReadSize at most) means more may be waiting.
        if (rc != SSH_OK || socketCounter_.in_bytes - before < kSocketReadSize)
            break;
    }
    serveRequests();
    tendChannels();
    // libssh sends only after its poll saw the socket writable: let it see
    // that now rather than on the next wake-up, so a reply leaves at once.
    if (!closed_ && (ssh_get_status(ssh_) & SSH_WRITE_PENDING) &&
        ssh_event_dopoll(event_, 0) == SSH_ERROR) {
        countRefusedKeyProbe();
        closeWith(QStringLiteral("connessione chiusa dal client"));
        return;
    }
    if (!closed_)
        widenWindow();
    if (!closed_)
        updateNotifiers();
    reportFinished();
}

void SftpSession::reportFinished() {
    const QList<events::TransferEvent> finished = std::exchange(finishedLater_, {});
    for (const events::TransferEvent& e : finished)
        Q_EMIT context_->bus->transferFinished(e);
}

void SftpSession::widenWindow() {
    // libssh keeps the client's window between 640 and 1,250 KB: a fast
    // upload then waits for window adjustments. A read asking for more than
    // the window raises it to that size; our data callback has taken every
    // byte already, so the read itself copies nothing.
    // Requests piling up unserved keep the window as libssh sets it.
    if (!channel_ || !sftpStarted_ || !ssh_channel_is_open(channel_) ||
        windowUsed_ < kChannelWindow / 4 || framer_.buffered() >= kInputPerTurn ||
        ssh_channel_poll(channel_, 0) != 0)
        return;
    windowUsed_ = 0;
    char none = 0;
    // A failure is the channel's end (its callback handles it) or the
    // connection's (the next poll reports it): the read decides nothing.
    ssh_channel_read_timeout(channel_, &none, kChannelWindow, 0, 0);
}

void SftpSession::serveRequests() {
    if (!requests_)
        return;
    if (framer_.failed()) {
        log(QStringLiteral("SFTP: pacchetto non valido, connessione chiusa"));
        closeWith(QStringLiteral("pacchetto non valido"));
        return;
    }
    bool served = false;
    qsizetype made = 0;
    serving_ = true;
    const auto done = qScopeGuard([this] { serving_ = false; });
    while (made < kOutputPerTurn && output_.size() - outputSent_ < kOutputHighWater &&
           mayServeNext()) {
        const qint64 sentBefore = requests_->sentTotal();
        const qint64 receivedBefore = requests_->receivedTotal();
        const std::optional<QByteArray> payload = framer_.next();
        if (!payload)
            break;
        const QByteArray reply = requests_->answer(*payload);
        chargeServed(sentBefore, receivedBefore);
        // Writes are counted by what they carry: their replies are small.
        made += reply.size() + payload->size();
        output_.append(reply);
        served = true;
    }
    if (framer_.failed()) {
        log(QStringLiteral("SFTP: pacchetto non valido, connessione chiusa"));
        closeWith(QStringLiteral("pacchetto non valido"));
        return;
    }
    if (served && context_->timeoutSeconds > 0)
        idleTimer_.start(context_->timeoutSeconds * 1000);
    flushOutput();
}

bool SftpSession::mayServeNext() {
    inputHeld_ = false;
    waitingForRate_ = false;
    if (!rates_[0] && !rates_[1])
        return true;
    const std::optional<PacketFramer::FileBytes> next = framer_.nextFileBytes();
    if (!next)
        return true;
    session::RateFlow* flow = rates_[next->write ? 0 : 1].get();
    // The whole request goes once the limits allow some of it: what it
    // takes beyond is paid back before the next grant.
    if (!flow || flow->allowance(next->bytes) > 0 || next->bytes == 0)
        return true;
    // A held WRITE stops the socket being read (TCP then holds the client
    // back); a held READ only delays its reply: the client's window
    // adjustments must still come in for the replies already made to leave.
    inputHeld_ = next->write || framer_.buffered() >= kInputPerTurn;
    waitingForRate_ = true;
    flow->setWake([this] {
        waitingForRate_ = false;
        inputHeld_ = false;
        step();
    });
    return false;
}

void SftpSession::chargeServed(qint64 sentBefore, qint64 receivedBefore) {
    if (rates_[1])
        rates_[1]->charge(requests_->sentTotal() - sentBefore);
    if (rates_[0])
        rates_[0]->charge(requests_->receivedTotal() - receivedBefore);
}

void SftpSession::flushOutput() {
    while (channel_ && outputSent_ < output_.size()) {
        const quint32 window = ssh_channel_window_size(channel_);
        const qsizetype n =
            std::min({output_.size() - outputSent_, qsizetype(window), qsizetype(64 * 1024)});
        if (n <= 0)
            break;
        const int written = ssh_channel_write(channel_, output_.constData() + outputSent_, n);
        if (written < 0) {
            closeWith(QStringLiteral("errore di scrittura"));
            return;
        }
        outputSent_ += written;
        if (written < n)
            break;
    }
    if (outputSent_ == output_.size()) {
        output_.clear();
        outputSent_ = 0;
    } else if (outputSent_ > 1024 * 1024) {
        output_.remove(0, outputSent_);
        outputSent_ = 0;
    }
}

void SftpSession::updateNotifiers() {
    // Only bytes waiting in libssh's output need the socket to become
    // writable; its poll flags keep asking for it even when nothing waits,
    // which would wake the event loop over and over.
    writable_->setEnabled((ssh_get_status(ssh_) & SSH_WRITE_PENDING) != 0);
    // A request held by the speed limits: the socket is not read (the
    // client's window and TCP's close) until the limits wake the session.
    readable_->setEnabled(!inputHeld_);
    // Whole requests left for a later turn, or held back while replies waited
    // (a request still arriving is taken up when the socket has the rest).
    if (requests_ && !waitingForRate_ && framer_.ready() &&
        output_.size() - outputSent_ < kOutputHighWater)
        queueTurn();
}

void SftpSession::queueTurn() {
    if (turnQueued_)
        return;
    turnQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            turnQueued_ = false;
            step();
        },
        Qt::QueuedConnection);
}

void SftpSession::closeWith(const QString& reason) {
    if (closed_)
        return;
    closed_ = true;
    idleTimer_.stop();
    for (const auto& flow : rates_) {
        if (flow)
            flow->setWake({});
    }
    readable_->setEnabled(false);
    writable_->setEnabled(false);
    reportFinished();
    if (requests_)
        requests_->abortAll();
    // Disconnecting frees every channel: none may be used after it.
    if (commands_)
        commands_->dropAll();
    if (loggedIn_)
        log(QStringLiteral("SFTP: connessione chiusa (%1)").arg(reason));
    // The server, not the client, ends the subsystem here.
    if (sftpStarted_)
        finishSftpChannel(1);
    channels_.clear();
    closedByClient_.clear();
    if (keysExchanged_)
        ssh_disconnect(ssh_);
    QMetaObject::invokeMethod(this, &SftpSession::reportClosed, Qt::QueuedConnection);
}

void SftpSession::closeSoon(const QString& reason) {
    // From inside a libssh callback the session must not be torn down under
    // libssh's feet: the closing runs once the callback has returned.
    QMetaObject::invokeMethod(
        this, [this, reason] { closeWith(reason); }, Qt::QueuedConnection);
}

void SftpSession::reportClosed() {
    if (closeReported_)
        return;
    closeReported_ = true;
    Q_EMIT closed(this);
    if (context_->bus)
        Q_EMIT context_->bus->sessionClosed(sessionInfo());
}

int SftpSession::onServiceRequest(ssh_session, const char* service, void*) {
    return qstrcmp(service, "ssh-userauth") == 0 || qstrcmp(service, "ssh-connection") == 0 ? 0
                                                                                            : -1;
}

} // namespace kv::sftp
