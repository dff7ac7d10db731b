// A control session's life: set-up on the connected socket, the greeting,
// reading command lines off the socket (held back while a transfer runs),
// the idle time-out and closing.

#include "ftp/ControlSession.h"

#include "ftp/DataChannel.h"
#include "ftp/EngineLimits.h"
#include "ftp/EngineSettings.h"
#include "ftp/StreamSocket.h"
#include "net/HostAddresses.h"

#include <QTcpSocket>

namespace kv::ftp {

namespace {

// Control socket read-ahead: enough for a couple of command lines, so a
// client that floods commands during a transfer cannot grow our memory.
constexpr qint64 kControlReadBuffer = 2 * kMaxCommandLine;
// Replies waiting for a client that does not read them: past this, commands
// wait until the client catches up instead of the replies piling up here.
constexpr qint64 kMaxQueuedReplies = 64 * 1024;

} // namespace

ControlSession::ControlSession(QTcpSocket* tcp, std::shared_ptr<const EngineSettings> settings,
                               std::shared_ptr<const TlsContext> tls, bool implicitTls,
                               session::EngineEvents* events, QObject* parent)
    : QObject(parent), ownSettings_(std::move(settings)), settings_(*ownSettings_), events_(events),
      tls_(std::move(tls)), implicitTls_(implicitTls && tls_), socket_(nullptr),
      peer_(net::plainAddress(tcp->peerAddress())),
      publicAddress_(settings_.passive.publicAddress) {
    id_ = events::nextSessionId();
    remoteHost_ = net::addressText(tcp->peerAddress());
    rootDir_ = settings_.serverRootDir;
    tcp->setReadBufferSize(kControlReadBuffer);
    idleTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this, &ControlSession::onIdleTimeout);
    loginDelay_.setSingleShot(true);
    connect(&loginDelay_, &QTimer::timeout, this, &ControlSession::onLoginDelayOver);
    if (implicitTls_) {
        protectData_ = true; // the implicit port protects data connections from the start
        attachSocket(makeTlsSocket(tcp));
    } else {
        attachSocket(new PlainSocket(tcp, this));
    }
}

void ControlSession::attachSocket(StreamSocket* socket) {
    socket_ = socket;
    connect(socket_, &StreamSocket::readyRead, this, &ControlSession::onControlReadable);
    connect(socket_, &StreamSocket::bytesWritten, this, [this] {
        if (socket_->bytesToWrite() == 0 && (!input_.isEmpty() || socket_->bytesAvailable() > 0))
            onControlReadable();
    });
    connect(socket_, &StreamSocket::remoteClosed, this, [this] { closeWith(QString()); });
    connect(socket_, &StreamSocket::failed, this, [this](const QString& reason) {
        debug(QStringLiteral("connessione di controllo terminata: %1").arg(reason));
        closeWith(QString());
    });
}

ControlSession::~ControlSession() {
    if (transfer_)
        transfer_->abort();
}

void ControlSession::onControlReadable() {
    dropRetiredTransfers();
    processInput();
}

void ControlSession::start() {
    // On the implicit port the greeting waits for the handshake.
    if (!implicitTls_)
        reply(Reply::Greeting);
    restartIdleTimer();
    if (events::ServerEvents* bus = notifications())
        Q_EMIT bus->sessionOpened(sessionInfo());
    processInput();
}

void ControlSession::Disconnect() {
    closeWith(settings_.replies.format(Reply::AdminDisconnect));
}

void ControlSession::closeWith(const QString& text) {
    if (closed_)
        return;
    if (!text.isEmpty())
        reply(text);
    releaseReplies();
    closed_ = true;
    idleTimer_.stop();
    loginDelay_.stop();
    if (news_)
        news_->stop();
    if (transfer_) {
        const TransferResult r = transfer_->abort();
        log(QStringLiteral("trasferimento interrotto: connessione chiusa dopo %1 byte")
                .arg(r.bytes));
        tellTransferFinished(events::TransferOutcome::Aborted, r.bytes,
                             QStringLiteral("connessione chiusa"));
        transfer_->deleteLater();
        transfer_ = nullptr;
    }
    pending_.reset();
    if (data_)
        data_->closeListener();
    socket_->disconnectFromHost();
    // Report the end from the event loop, never from inside a handler that
    // may still be using this object.
    QMetaObject::invokeMethod(this, &ControlSession::finishClose, Qt::QueuedConnection);
}

void ControlSession::closeAfterReply(const QString& text) {
    if (closed_)
        return;
    if (!running_ && !transfer_ && !pending_ && !awaitingVerdict_ && !loginDelay_.isActive() &&
        !replyPaced_) {
        closeWith(text);
        return;
    }
    closeAfterReply_ = text;
}

void ControlSession::finishClose() {
    if (closeSignalled_)
        return;
    closeSignalled_ = true;
    // The server forgets the session first, so subscribers see it gone.
    Q_EMIT closed(this);
    if (events::ServerEvents* bus = notifications())
        Q_EMIT bus->sessionClosed(sessionInfo());
}

void ControlSession::restartIdleTimer() {
    if (closed_ || settings_.timeout <= 0 || transfer_ || pending_) {
        idleTimer_.stop();
        return;
    }
    // A command only notes the time: restarting the timer on every command
    // costs a timer-list update per command, which grows with the sessions
    // open. The timer, started once, waits out the rest when it fires early.
    lastActivity_.start();
    if (!idleTimer_.isActive())
        idleTimer_.start(int(settings_.timeout) * 1000);
}

void ControlSession::onIdleTimeout() {
    const qint64 left = qint64(settings_.timeout) * 1000 - lastActivity_.elapsed();
    if (left > 0) {
        idleTimer_.start(int(left));
        return;
    }
    closeWith(settings_.replies.format(Reply::IdleTimeout, {QString::number(settings_.timeout)}));
}

// ---- input ----------------------------------------------------------------

bool ControlSession::holdWhileBusy(const QByteArray& line) const {
    // A delayed answer, or a close on its way: nothing more is read.
    if (awaitingVerdict_ || loginDelay_.isActive() || endingAfterReply_ || replyPaced_)
        return true;
    if (!transfer_ && !pending_ && !hashing())
        return false;
    const ParsedCommand cmd = parseCommandLine(line);
    const CommandInfo* info = cmd.ok() ? findCommand(cmd.verb) : nullptr;
    return !(info && info->duringTransfer);
}

void ControlSession::processInput() {
    // Called again from inside (a transfer that ends while a command runs):
    // the loop further up the stack goes on with the next line.
    if (readingInput_)
        return;
    readingInput_ = true;
    holdReplies_ = true;
    while (!closed_ && socket_->bytesToWrite() + heldReplies_.size() < kMaxQueuedReplies) {
        const qint64 room = input_.room();
        if (room > 0 && socket_->bytesAvailable() > 0)
            input_.append(socket_->read(room));
        QByteArray line;
        const LineFramer::Next next = input_.next(line);
        if (next == LineFramer::Next::NeedMore) {
            if (socket_->bytesAvailable() > 0)
                continue;
            break;
        }
        if (next == LineFramer::Next::TooLong) {
            reply(Reply::LineTooLong);
            continue;
        }
        if (holdWhileBusy(line))
            break;
        input_.take();
        handleLine(line);
    }
    readingInput_ = false;
    releaseReplies();
    input_.squeeze(); // an idle session keeps no buffer
}

} // namespace kv::ftp
