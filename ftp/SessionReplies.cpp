// How a control session writes: replies to the client (straight to the
// kernel when nothing is queued) and lines to the activity log.

#include "ftp/ControlSession.h"

#include "ftp/EngineSettings.h"
#include "ftp/ReplyPacer.h"

#include "ftp/StreamSocket.h"

#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace kv::ftp {

void ControlSession::send(QByteArray bytes) {
    if (holdReplies_)
        heldReplies_ += bytes;
    else
        transmit(std::move(bytes));
}

void ControlSession::transmit(QByteArray bytes) {
#ifdef Q_OS_UNIX
    // Straight into the kernel when nothing is queued ahead of it, instead of
    // waiting for the next event-loop pass; whatever does not fit (or an
    // error) goes the socket's own way, which queues it and reports errors.
    const qintptr fd = socket_->zeroCopyDescriptor();
    if (fd >= 0 && socket_->bytesToWrite() == 0) {
        const ssize_t n =
            ::send(int(fd), bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == bytes.size())
            return;
        if (n > 0)
            bytes.remove(0, n);
    }
#endif
    socket_->write(bytes);
}

namespace {

// The last line of a command's answer: 2xx to 5xx, no continuation dash.
bool finalAnswer(const QString& text) {
    return text.size() >= 4 && text.at(0) >= u'2' && text.at(0) <= u'5' && text.at(3) == u' ';
}

} // namespace

void ControlSession::releaseReplies() {
    // The replies of command lines read in one go (a pipelining client's)
    // leave in one write.
    holdReplies_ = false;
    flushReplies();
}

void ControlSession::flushReplies() {
    if (!heldReplies_.isEmpty())
        transmit(std::exchange(heldReplies_, QByteArray()));
}

void ControlSession::reply(const QString& text) {
    if (closed_)
        return;
    send(text.toUtf8().append("\r\n"));
    const bool final = finalAnswer(text);
    if (final && holdReplies_ && input_.isEmpty() && socket_->bytesAvailable() == 0) {
        // The answer to the last command the client sent: it goes now, so
        // the client reads it while the log line and the events are made.
        flushReplies();
    }
    log(text);
    if (!closeAfterReply_.isEmpty() && !endingAfterReply_ && final) {
        // Closed from the event loop: the handler that replied may still be
        // using the session's state.
        endingAfterReply_ = true;
        QMetaObject::invokeMethod(
            this, [this] { closeWith(std::exchange(closeAfterReply_, {})); }, Qt::QueuedConnection);
    }
}

void ControlSession::reply(Reply id, const QStringList& args) {
    reply(settings_.replies.format(id, args));
}

void ControlSession::answerNotBefore(qint64 delayUs, std::function<void()> answer) {
    ReplyPacer* pacer = settings_.replyPacer;
    const qint64 due = commandArrived_ + delayUs * 1000;
    const auto later = [this, answer] {
        replyPaced_ = false;
        if (closed_)
            return;
        answer();
        processInput(); // the commands that waited for it
    };
    if (delayUs > 0 && pacer && pacer->runAt(due, this, later)) {
        replyPaced_ = true;
        return;
    }
    answer();
}

void ControlSession::log(const QString& line) {
    if (events_)
        events_->LogLine(*this, line);
}

void ControlSession::debug(const QString& line) {
    if (settings_.debugMode > 0)
        log(line);
}

} // namespace kv::ftp
