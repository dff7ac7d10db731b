#include "core/ServerController.h"

#include "core/NumberConversion.h"
#include "monitor/ActivityLog.h"

#include <QDir>

namespace kv {

QString DefaultServerRoot() {
    return QDir::rootPath();
}

namespace {

template <typename Int, typename Setter>
void setIfNumber(const std::optional<Int>& value, Setter set) {
    if (value)
        set(*value);
}

} // namespace

ServerController::ServerController(engine::FtpEngine& engine, ServerBoxes& boxes,
                                   DefaultAddressFn defaultLocalIP, WriteLogFn writeLog,
                                   ClockFn clock)
    : engine_(engine), boxes_(boxes), defaultLocalIP_(std::move(defaultLocalIP)),
      writeLog_(std::move(writeLog)), clock_(std::move(clock)) {}

void ServerController::handOverSettings(const QString& address) {
    if (boxes_.text(ServerBox::Port).isEmpty())
        boxes_.setText(ServerBox::Port, QStringLiteral("21"));
    if (boxes_.text(ServerBox::Root).isEmpty())
        boxes_.setText(ServerBox::Root, DefaultServerRoot());

    engine_.setLocalAddress(address);
    setIfNumber(toInt16(boxes_.text(ServerBox::Port)), [&](qint16 v) { engine_.setPort(v); });
    engine_.setServerRootDir(boxes_.text(ServerBox::Root));
    setIfNumber(toInt16(boxes_.text(ServerBox::DataLingerTime)),
                [&](qint16 v) { engine_.setDataLingerTime(v); });
    setIfNumber(toInt32(boxes_.text(ServerBox::ResolveLinks)),
                [&](qint32 v) { engine_.setResolveLinks(v); });
    setIfNumber(toInt16(boxes_.text(ServerBox::Timeout)), [&](qint16 v) { engine_.setTimeout(v); });
    setIfNumber(toInt16(boxes_.text(ServerBox::DebugMode)),
                [&](qint16 v) { engine_.setDebugMode(v); });
}

bool ServerController::ServerStart() {
    QString address = boxes_.text(ServerBox::Address);
    if (address.toLower() == QLatin1String("default"))
        address = defaultLocalIP_ ? defaultLocalIP_() : QString();

    handOverSettings(address);

    if (!engine_.Listen()) {
        state_ = 0;
        if (view_)
            view_->showStartFailed(kStartFailedMessage);
        return false;
    }

    const QString listening = engine_.LocalAddress();
    if (view_)
        view_->showRunning(listening);
    writeLog_(QString());
    writeLog_(monitor::StartLogLine(clock_(), listening));
    state_ = 1;
    if (view_)
        view_->afterStart();
    return true;
}

void ServerController::ServerStop() {
    engine_.StopListening();
    writeLog_(monitor::StopLogLine(clock_()));
    state_ = 0;
    if (view_)
        view_->showStopped();
}

} // namespace kv
