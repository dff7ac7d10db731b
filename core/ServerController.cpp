#include "core/ServerController.h"

#include "core/NumberConversion.h"
#include "core/StartOptions.h"
#include "monitor/ActivityLog.h"

#include <QDir>

namespace kv {

QString startFailedText(const QStringList& reasons) {
    if (reasons.isEmpty())
        return kStartFailedMessage;
    return kStartFailedMessage + QLatin1Char('\n') + reasons.join(QLatin1Char('\n'));
}

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
      writeLog_(std::move(writeLog)), clock_(std::move(clock)),
      resolver_(std::make_unique<PassiveAddressResolver>(engine_, stampedLog())) {}

PassiveAddressResolver::WriteLogFn ServerController::stampedLog() {
    // The resolver speaks long after the start line: each of its lines says when.
    return [this](const QString& line) {
        writeLog_(QLatin1Char('[') + clock_().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")) +
                  QStringLiteral("] ") + line);
    };
}

ServerController::~ServerController() = default;

QStringList ServerController::prepare(Prepared& p) {
    p.address = boxes_.text(ServerBox::Address);
    if (p.address.toLower() == QLatin1String("default"))
        p.address = defaultLocalIP_ ? defaultLocalIP_() : QString();
    if (optionRows_) {
        const access::OptionRows rows = optionRows_();
        if (!rows.error.isEmpty())
            return {rows.error};
        const StartOptions options = readStartOptions(rows.rows, dataFolder_);
        if (!options.ok())
            return options.errors;
        p.tls = options.tls;
        p.passive = options.passive;
        p.passiveHost = options.passiveHostName;
        p.logLimits = {options.logMaxBytes, options.logKeep};
        p.limits = {options.maxConnections, options.maxConnectionsPerIp};
        p.bans = options.bans;
    }
    if (boxes_.text(ServerBox::Port).isEmpty())
        boxes_.setText(ServerBox::Port, QStringLiteral("21"));
    if (boxes_.text(ServerBox::Root).isEmpty())
        boxes_.setText(ServerBox::Root, DefaultServerRoot());
    // The port is used as given or the start fails: listening on another port
    // than the one configured would report a server nobody can reach.
    const QString portText = boxes_.text(ServerBox::Port);
    const std::optional<qint32> port = toInt32(portText);
    if (!port || *port < 1 || *port > 65535)
        return {QStringLiteral("Porta non valida: \"%1\" (1-65535)").arg(portText)};
    p.port = quint16(*port);
    if (p.tls.enabled() && prepareCertificate_) {
        if (const QString problem = prepareCertificate_(p.tls); !problem.isEmpty())
            return {problem};
    }
    return {};
}

void ServerController::handOver(const Prepared& p) {
    engine_.setPort(p.port);
    engine_.setLocalAddress(p.address);
    engine_.setServerRootDir(boxes_.text(ServerBox::Root));
    setIfNumber(toInt16(boxes_.text(ServerBox::DataLingerTime)),
                [&](qint16 v) { engine_.setDataLingerTime(v); });
    setIfNumber(toInt32(boxes_.text(ServerBox::ResolveLinks)),
                [&](qint32 v) { engine_.setResolveLinks(v); });
    setIfNumber(toInt16(boxes_.text(ServerBox::Timeout)), [&](qint16 v) { engine_.setTimeout(v); });
    setIfNumber(toInt16(boxes_.text(ServerBox::DebugMode)),
                [&](qint16 v) { engine_.setDebugMode(v); });
    engine_.setTls(p.tls);
    engine_.setPassive(p.passive);
    if (p.limits)
        engine_.setConnectionLimits(p.limits->first, p.limits->second);
}

void ServerController::applyOutsideEngine(const Prepared& p, bool reread) {
    if (applyLogLimits_ && p.logLimits)
        applyLogLimits_(p.logLimits->first, p.logLimits->second);
    // A start lifts every ban; a reread keeps them unless the rules changed.
    if (applyBanRules_ && p.bans && !(reread && appliedBans_ == p.bans))
        applyBanRules_(*p.bans);
    appliedBans_ = p.bans;
    resolver_->start(p.passiveHost);
}

bool ServerController::ServerStart() {
    Prepared p;
    if (const QStringList reasons = prepare(p); !reasons.isEmpty())
        return failStart(reasons);
    handOver(p);
    if (!engine_.Listen()) {
        const QString reason = engine_.ListenError();
        return failStart(reason.isEmpty() ? QStringList() : QStringList{reason});
    }

    const QString listening = engine_.LocalAddress();
    if (view_)
        view_->showRunning(listening);
    writeLog_(QString());
    writeLog_(monitor::StartLogLine(clock_(), listening));
    applyOutsideEngine(p, false);
    writeStartNotes();
    state_ = 1;
    if (view_)
        view_->afterStart();
    return true;
}

bool ServerController::ServerReload() {
    if (state_ == 0)
        return false;
    Prepared p;
    QStringList reasons = prepare(p);
    if (reasons.isEmpty()) {
        // The engine takes the new values back itself when it cannot listen with them.
        handOver(p);
        if (!engine_.Relisten())
            reasons << engine_.ListenError();
    }
    if (!reasons.isEmpty()) {
        for (const QString& reason : std::as_const(reasons))
            writeLog_(monitor::ReloadFailedLogLine(clock_(), reason));
        return false;
    }
    applyOutsideEngine(p, true);
    writeLog_(monitor::ReloadLogLine(clock_(), engine_.LocalAddress(), engine_.Port()));
    writeStartNotes();
    return true;
}

void ServerController::writeStartNotes() {
    if (startNotes_) {
        for (const QString& note : startNotes_())
            writeLog_(note);
    }
}

bool ServerController::failStart(const QStringList& reasons) {
    state_ = 0;
    for (const QString& reason : reasons)
        writeLog_(monitor::StartFailedLogLine(clock_(), reason));
    if (view_)
        view_->showStartFailed(startFailedText(reasons));
    return false;
}

void ServerController::ServerStop() {
    resolver_->stop();
    engine_.StopListening();
    writeLog_(monitor::StopLogLine(clock_()));
    state_ = 0;
    if (view_)
        view_->showStopped();
}

} // namespace kv
