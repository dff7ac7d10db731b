// A control session's life: set-up on the connected socket, the greeting,
// reading command lines off the socket (held back while a transfer runs),
// the idle time-out and closing.

#include "engine/ControlSession.h"

#include "engine/DataChannel.h"
#include "engine/EngineLimits.h"
#include "engine/EngineSettings.h"
#include "engine/HostAddresses.h"

#include <QTcpSocket>

namespace kv::engine {

namespace {

// Control socket read-ahead: enough for a couple of command lines, so a
// client that floods commands during a transfer cannot grow our memory.
constexpr qint64 kControlReadBuffer = 2 * kMaxCommandLine;
// Replies waiting for a client that does not read them: past this, commands
// wait until the client catches up instead of the replies piling up here.
constexpr qint64 kMaxQueuedReplies = 64 * 1024;

} // namespace

ControlSession::ControlSession(QTcpSocket* socket, const EngineSettings& settings,
                               EngineEvents* events, QObject* parent)
    : QObject(parent), settings_(settings), events_(events), socket_(socket),
      peer_(plainAddress(socket->peerAddress())), remoteHost_(addressText(socket->peerAddress())),
      rootDir_(settings.serverRootDir) {
    socket_->setParent(this);
    socket_->setReadBufferSize(kControlReadBuffer);
    plainSocket_ = socket_->metaObject() == &QTcpSocket::staticMetaObject;
    idleTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this, &ControlSession::onIdleTimeout);
    connect(socket_, &QTcpSocket::readyRead, this, &ControlSession::onControlReadable);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (socket_->bytesToWrite() == 0 && (!input_.isEmpty() || socket_->bytesAvailable() > 0))
            onControlReadable();
    });
    connect(socket_, &QTcpSocket::disconnected, this, [this] { closeWith(QString()); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (socket_->state() != QAbstractSocket::ConnectedState)
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
    reply(Reply::Greeting);
    restartIdleTimer();
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
    closed_ = true;
    idleTimer_.stop();
    if (transfer_) {
        const TransferResult r = transfer_->abort();
        log(QStringLiteral("transfer aborted: connection closed after %1 bytes").arg(r.bytes));
        transfer_->deleteLater();
        transfer_ = nullptr;
    }
    pending_.reset();
    if (data_)
        data_->reset();
    socket_->disconnectFromHost();
    // Report the end from the event loop, never from inside a handler that
    // may still be using this object.
    QMetaObject::invokeMethod(this, &ControlSession::finishClose, Qt::QueuedConnection);
}

void ControlSession::finishClose() {
    if (closeSignalled_)
        return;
    closeSignalled_ = true;
    Q_EMIT closed(this);
}

void ControlSession::restartIdleTimer() {
    if (closed_ || settings_.timeout <= 0 || transfer_ || pending_) {
        idleTimer_.stop();
        return;
    }
    idleTimer_.start(int(settings_.timeout) * 1000);
}

void ControlSession::onIdleTimeout() {
    closeWith(settings_.replies.format(Reply::IdleTimeout, {QString::number(settings_.timeout)}));
}

// ---- input ----------------------------------------------------------------

bool ControlSession::holdWhileBusy(const QByteArray& line) const {
    if (!transfer_ && !pending_)
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
    while (!closed_ && socket_->bytesToWrite() < kMaxQueuedReplies) {
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
    input_.squeeze(); // an idle session keeps no buffer
}

} // namespace kv::engine
