#include "app/core/ServerController.h"

#include "app/core/NumberConversion.h"

#include <QDir>

namespace kv {

QString DefaultServerRoot() {
    return QDir::rootPath();
}

namespace {

QString stamp(const QDateTime& when) {
    return QLatin1Char('[') + when.toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")) +
           QLatin1Char(']');
}

template <typename Int, typename Setter>
void setIfNumber(const std::optional<Int>& value, Setter set) {
    if (value)
        set(*value);
}

} // namespace

QString startLogLine(const QDateTime& when, const QString& address) {
    return stamp(when) + QStringLiteral(" SERVER START ON IP ") + address;
}

QString stopLogLine(const QDateTime& when) {
    return stamp(when) + QStringLiteral(" SERVER STOP");
}

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
    writeLog_(startLogLine(clock_(), listening));
    state_ = 1;
    if (view_)
        view_->afterStart();
    return true;
}

void ServerController::ServerStop() {
    engine_.StopListening();
    writeLog_(stopLogLine(clock_()));
    state_ = 0;
    if (view_)
        view_->showStopped();
}

} // namespace kv
