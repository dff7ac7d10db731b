// The server without a window: start, reread and stop.
#include "program/HeadlessServer.h"

#include "access/DataView.h"
#include "adminchannel/AdminChannel.h"
#include "core/ProgramCore.h"
#include "program/ServiceNotifier.h"

#include <QCoreApplication>

namespace kv {

HeadlessServer::HeadlessServer(ProgramCore& core, QTextStream& out, QTextStream& err,
                               QObject* parent)
    : QObject(parent), core_(core), out_(out), err_(err) {
    connect(&core_.notifications(), &events::ServerEvents::logLine, this,
            [this](const events::LogLine& line) { ShowLogLine(line.line); });
    core_.setServerView(this);
}

HeadlessServer::~HeadlessServer() {
    channel_.reset();
    core_.setServerView(nullptr);
}

bool HeadlessServer::start() {
    channel_ = std::make_unique<AdminChannel>(core_, [this] { return reload(); });
    if (channel_->open() != AdminChannel::OpenResult::Listening) {
        err_ << channel_->error() << Qt::endl;
        channel_.reset();
        return false;
    }
    if (!core_.server().ServerStart())
        return false;
    notifyReady(listening());
    return true;
}

bool HeadlessServer::reload() {
    // The signal and the administration channel both come here, so systemd
    // sees every reread, whoever asked for it.
    notifyReloading();
    core_.views().Data2().Refresh(); // the settings row as another program left it
    const bool applied = core_.server().ServerReload();
    notifyReady(listening()); // running either way: with the new values or the old
    return applied;
}

QString HeadlessServer::listening() const {
    return QStringLiteral("In ascolto su %1 porta %2")
        .arg(core_.server().shownAddress())
        .arg(core_.engine().Port());
}

void HeadlessServer::stop() {
    notifyStopping();
    if (core_.server().ServerState() > 0)
        core_.server().ServerStop();
    out_.flush();
    QCoreApplication::exit(0);
}

void HeadlessServer::ShowLogLine(const QString& line) {
    out_ << line << '\n';
    // Written once the loop has handled what is in hand: a transfer's lines
    // go out in a few writes, not one each, and still at once.
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                flushQueued_ = false;
                out_.flush();
            },
            Qt::QueuedConnection);
    }
}

void HeadlessServer::showStartFailed(const QString& message) {
    show(message, MessageIcon::Exclamation);
}

void HeadlessServer::show(const QString& text, MessageIcon) {
    out_.flush(); // the lines before it come first
    err_ << text << Qt::endl;
}

} // namespace kv
