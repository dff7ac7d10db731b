#pragma once
// Starting and stopping the FTP service: the options check, the settings
// hand-over to the engine, the failure check, the server state, and the start
// and stop log lines. What the window shows for each state is left to a
// ServerView.

#include "access/OptionsTable.h"
#include "core/PassiveAddressResolver.h"
#include "core/ServerBoxes.h"
#include "core/ServerConfig.h"
#include "ftp/FtpEngine.h"
#include "session/Admission.h"
#include "session/LoginBans.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace kv {

inline const QString kStartFailedMessage =
    QStringLiteral("Impossibile avviare il server: controllare indirizzo IP e porta");
// Without it no client path could be kept inside its root while the disk
// changes, so the server does not serve at all.
inline const QString kNoConfinedOpening =
    QStringLiteral("Il sistema non permette di aprire i file restando dentro la cartella "
                   "radice (openat2, Linux 5.6 o successivo)");

// The start-failure message with its reasons, one a line below it.
QString startFailedText(const QStringList& reasons);

// The root used when the root box is empty: the file system's root (what an
// older database's empty root always meant; a new database names a folder).
QString DefaultServerRoot();

// What "Default" listens on: every address of the PC, IPv6 and IPv4 together
// (0.0.0.0 where the system has no IPv6), so the PC itself, the LAN and a
// router forwarding to it all reach the server.
inline const QString kEveryAddress = QStringLiteral("::");

class ServerView {
public:
    virtual ~ServerView() = default;
    // Toolbar, status bar ("Online: " + address), disabled panels, log viewer closed.
    virtual void showRunning(const QString& localAddress) = 0;
    // Called once the state is running: the start notice, when it applies.
    virtual void afterStart() = 0;
    virtual void showStartFailed(const QString& message) = 0;
    // Toolbar, status bar, enabled panels, online list emptied, account groups.
    virtual void showStopped() = 0;
};

// A server started, reread and stopped along with the FTP engine (SFTP).
class CompanionServer {
public:
    virtual ~CompanionServer() = default;
    // Starts with `config` once the engine listens: the lines to log after
    // the start line, or the Italian reason it cannot start.
    virtual std::optional<QString> start(const ServerConfig& config, QStringList& lines) = 0;
    virtual void stop() = 0;
};

class ServerController {
public:
    using WriteLogFn = std::function<void(const QString&)>;
    // The PC's main address ("" when it has none but loopback).
    using DefaultAddressFn = std::function<QString()>;
    using ClockFn = std::function<QDateTime()>;
    using OptionRowsFn = std::function<access::OptionRows()>;
    // Makes the certificate ready before a TLS start (e.g. generates it when
    // missing); returns the Italian reason it could not, empty when ready.
    using PrepareCertificateFn = std::function<QString(const ftp::TlsSettings&)>;

    ServerController(ftp::FtpEngine& engine, ServerBoxes& boxes, DefaultAddressFn defaultLocalIP,
                     WriteLogFn writeLog, ClockFn clock = &QDateTime::currentDateTime);
    ~ServerController();

    void setView(ServerView* view) { view_ = view; }
    // Where the options come from and the folder their default files live in;
    // without a source every option keeps its default (TLS off).
    void setOptionSource(OptionRowsFn rows, const QString& dataFolder) {
        optionRows_ = std::move(rows);
        dataFolder_ = dataFolder;
    }
    // Whether files can be opened confined to a folder (tests give their own).
    void setConfinedOpeningCheck(std::function<bool()> works) {
        confinedOpeningWorks_ = std::move(works);
    }
    void setPrepareCertificate(PrepareCertificateFn prepare) {
        prepareCertificate_ = std::move(prepare);
    }
    // Told the log file's limits read at each start.
    void setLogLimits(std::function<void(qint64 maxBytes, int keep)> apply) {
        applyLogLimits_ = std::move(apply);
    }
    // Told the connection limits read at each start and reread, for every
    // protocol's sessions together.
    void setConnectionLimits(std::function<void(const session::Admission::Limits&)> apply) {
        applyConnectionLimits_ = std::move(apply);
    }
    // Told the server's speed limits and quota warning read at each start and
    // reread, and told when the server stops.
    void setServerLimits(std::function<void(const session::ServerLimits&)> read,
                         std::function<void()> stopped) {
        applyServerLimits_ = std::move(read);
        serverLimitsStopped_ = std::move(stopped);
    }
    // Told the ban rules read at each start (a start lifts every ban).
    void setBanRules(std::function<void(const session::BanRules&)> apply) {
        applyBanRules_ = std::move(apply);
    }
    // Lines logged after a successful start (e.g. list entries that match nothing).
    void setStartNotes(std::function<QStringList()> notes) { startNotes_ = std::move(notes); }
    // The warnings logged at each start and reread while the whole disk is
    // shared, given the default root the start uses.
    void setWholeDiskWarnings(std::function<QStringList(const QString& defaultRoot)> warnings) {
        wholeDiskWarnings_ = std::move(warnings);
    }
    // Started after the engine listens and stopped before it; its failure fails the start.
    void setCompanion(CompanionServer* companion) { companion_ = companion; }
    // How the host name of passive_address is looked up (tests give their own).
    void setHostLookup(PassiveAddressResolver::LookupFn lookup, int refreshMs) {
        resolver_ = std::make_unique<PassiveAddressResolver>(engine_, stampedLog(),
                                                             std::move(lookup), refreshMs);
    }

    // True when the engine listens afterwards. Invalid options fail the start
    // before the engine is touched; the reasons are logged and shown.
    bool ServerStart();
    // While running: reads the settings row and the options again and has
    // the engine listen with them; connections already open keep running.
    // A failure changes nothing and logs why. False when stopped.
    bool ServerReload();
    void ServerStop();
    qint16 ServerState() const { return state_; }
    // The address the status bar and the log name for the running server:
    // for "Default" (and the empty address) the PC's main address, or
    // 127.0.0.1 when it has no other; else the address as stored.
    const QString& shownAddress() const { return shownAddress_; }

private:
    // Reads and checks the settings row and the options into `config`, the
    // "Default" address resolved; the reasons they cannot be used, empty when
    // they can. Touches nothing but empty settings boxes and the certificate files.
    QStringList prepare(ServerConfig& config, QString& shown);
    // The one place where the configuration reaches the engine.
    void handOver(const ServerConfig& config);
    // The log limits, ban rules and public-name lookup: applied only once
    // the engine listens with the new values, so a failed reread keeps them.
    void applyOutsideEngine(const ServerConfig& config, bool reread);
    // One line per stored engine number that was refused, with the value kept.
    void writeKeptSettings(const ServerConfig& config);
    void writeStartNotes(const ServerConfig& config);
    bool failStart(const QStringList& reasons);
    PassiveAddressResolver::WriteLogFn stampedLog();

    ftp::FtpEngine& engine_;
    ServerBoxes& boxes_;
    DefaultAddressFn defaultLocalIP_;
    WriteLogFn writeLog_;
    ClockFn clock_;
    OptionRowsFn optionRows_;
    QString dataFolder_;
    PrepareCertificateFn prepareCertificate_;
    std::function<bool()> confinedOpeningWorks_;
    std::function<void(qint64, int)> applyLogLimits_;
    std::function<QStringList()> startNotes_;
    std::function<QStringList(const QString&)> wholeDiskWarnings_;
    QString shownAddress_;
    std::function<void(const session::BanRules&)> applyBanRules_;
    std::function<void(const session::Admission::Limits&)> applyConnectionLimits_;
    std::function<void(const session::ServerLimits&)> applyServerLimits_;
    std::function<void()> serverLimitsStopped_;
    std::optional<session::BanRules> appliedBans_;
    ServerView* view_ = nullptr;
    CompanionServer* companion_ = nullptr;
    std::unique_ptr<PassiveAddressResolver> resolver_;
    qint16 state_ = 0;
};

} // namespace kv
