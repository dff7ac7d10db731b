#include "core/ServerController.h"

#include "files/BeneathOpen.h"
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

ServerController::ServerController(ftp::FtpEngine& engine, ServerBoxes& boxes,
                                   DefaultAddressFn defaultLocalIP, WriteLogFn writeLog,
                                   ClockFn clock)
    : engine_(engine), boxes_(boxes), defaultLocalIP_(std::move(defaultLocalIP)),
      writeLog_(std::move(writeLog)), clock_(std::move(clock)),
      resolver_(std::make_unique<PassiveAddressResolver>(engine_, stampedLog())) {
    confinedOpeningWorks_ = &files::beneathOpeningWorks;
}

PassiveAddressResolver::WriteLogFn ServerController::stampedLog() {
    // The resolver speaks long after the start line: each of its lines says when.
    return [this](const QString& line) {
        writeLog_(QLatin1Char('[') + clock_().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")) +
                  QStringLiteral("] ") + line);
    };
}

ServerController::~ServerController() = default;

QStringList ServerController::prepare(ServerConfig& config, QString& shown) {
    if (!confinedOpeningWorks_())
        return {kNoConfinedOpening};
    if (boxes_.text(ServerBox::Port).isEmpty())
        boxes_.setText(ServerBox::Port, QStringLiteral("21"));
    QMap<QString, QString> row;
    for (const ServerBox box : kServerBoxes)
        row.insert(SettingsRowBoxes::fieldName(box), boxes_.text(box));
    // An older file's empty root is served as the whole disk, as it always
    // was, but stays empty in the row: the start log and the settings panel
    // warn about it, and the panel offers the shared folder in its place.
    QString& root = row[SettingsRowBoxes::fieldName(ServerBox::Root)];
    if (root.isEmpty())
        root = DefaultServerRoot();
    access::OptionRows options;
    if (optionRows_) {
        options = optionRows_();
        if (!options.error.isEmpty())
            return {options.error};
    }
    config = readServerConfig(row, options.rows, dataFolder_);
    if (!config.ok())
        return config.errors;
    shown = config.address;
    const bool isDefault =
        config.address.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0;
    if (isDefault)
        config.address = kEveryAddress;
    if (isDefault || config.address.isEmpty()) {
        shown = defaultLocalIP_ ? defaultLocalIP_() : QString();
        if (shown.isEmpty())
            shown = QStringLiteral("127.0.0.1");
    }
    const ftp::TlsSettings& tls = config.options.tls;
    if (tls.enabled() && prepareCertificate_) {
        if (const QString problem = prepareCertificate_(tls); !problem.isEmpty())
            return {problem};
    }
    return {};
}

void ServerController::handOver(const ServerConfig& config) {
    engine_.setPort(config.port);
    engine_.setLocalAddress(config.address);
    engine_.setServerRootDir(config.root);
    if (config.dataLingerTime)
        engine_.setDataLingerTime(*config.dataLingerTime);
    if (config.resolveLinks)
        engine_.setResolveLinks(*config.resolveLinks);
    if (config.timeout)
        engine_.setTimeout(*config.timeout);
    if (config.debugMode)
        engine_.setDebugMode(*config.debugMode);
    const StartOptions& options = config.options;
    engine_.setTls(options.tls);
    engine_.setPassive(options.passive);
    if (applyConnectionLimits_)
        applyConnectionLimits_({options.maxConnections, options.maxConnectionsPerIp});
}

void ServerController::writeKeptSettings(const ServerConfig& config) {
    using namespace settings::setting;
    for (const KeptSetting& kept : config.kept) {
        qint32 value = 0;
        if (kept.name == kTimeout)
            value = engine_.Timeout();
        else if (kept.name == kDebugMode)
            value = engine_.DebugMode();
        else if (kept.name == kDataLingerTime)
            value = engine_.DataLingerTime();
        else if (kept.name == kResolveLinks)
            value = engine_.ResolveLinks();
        writeLog_(keptSettingLine(kept, QString::number(value)));
    }
}

void ServerController::applyOutsideEngine(const ServerConfig& config, bool reread) {
    const StartOptions& options = config.options;
    if (applyLogLimits_)
        applyLogLimits_(options.logMaxBytes, options.logKeep);
    // A start lifts every ban; a reread keeps them unless the rules changed.
    if (applyBanRules_ && !(reread && appliedBans_ == options.bans))
        applyBanRules_(options.bans);
    appliedBans_ = options.bans;
    resolver_->start(options.passiveHostName);
    if (applyServerLimits_)
        applyServerLimits_(options.limits);
}

bool ServerController::ServerStart() {
    ServerConfig config;
    QString shown;
    if (const QStringList reasons = prepare(config, shown); !reasons.isEmpty())
        return failStart(reasons);
    handOver(config);
    if (!engine_.Listen()) {
        const QString reason = engine_.ListenError();
        return failStart(reason.isEmpty() ? QStringList() : QStringList{reason});
    }
    QStringList companionLines;
    if (companion_) {
        if (const auto problem = companion_->start(config, companionLines)) {
            engine_.StopListening();
            return failStart({*problem});
        }
    }

    shownAddress_ = shown;
    if (view_)
        view_->showRunning(shownAddress_);
    writeLog_(QString());
    writeLog_(monitor::StartLogLine(clock_(), shownAddress_));
    for (const QString& line : std::as_const(companionLines))
        writeLog_(line);
    writeKeptSettings(config);
    applyOutsideEngine(config, false);
    writeStartNotes(config);
    state_ = 1;
    if (view_)
        view_->afterStart();
    return true;
}

bool ServerController::ServerReload() {
    if (state_ == 0)
        return false;
    ServerConfig config;
    QString shown;
    QStringList reasons = prepare(config, shown);
    if (reasons.isEmpty()) {
        // The engine takes the new values back itself when it cannot listen with them.
        handOver(config);
        if (!engine_.Relisten())
            reasons << engine_.ListenError();
    }
    if (!reasons.isEmpty()) {
        for (const QString& reason : std::as_const(reasons))
            writeLog_(monitor::ReloadFailedLogLine(clock_(), reason));
        return false;
    }
    applyOutsideEngine(config, true);
    shownAddress_ = shown;
    writeLog_(monitor::ReloadLogLine(clock_(), shownAddress_, engine_.Port()));
    if (companion_) {
        // The engine listens with the new values already: a companion that
        // cannot follow keeps running as it was, and says why.
        QStringList lines;
        if (const auto problem = companion_->start(config, lines))
            writeLog_(monitor::ReloadFailedLogLine(clock_(), *problem));
        for (const QString& line : std::as_const(lines))
            writeLog_(line);
    }
    writeKeptSettings(config);
    writeStartNotes(config);
    return true;
}

void ServerController::writeStartNotes(const ServerConfig& config) {
    if (wholeDiskWarnings_) {
        for (const QString& warning : wholeDiskWarnings_(config.root))
            writeLog_(warning);
    }
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
    if (companion_)
        companion_->stop();
    engine_.StopListening();
    if (serverLimitsStopped_)
        serverLimitsStopped_();
    writeLog_(monitor::StopLogLine(clock_()));
    state_ = 0;
    if (view_)
        view_->showStopped();
}

} // namespace kv
