#pragma once
// Everything the program is, without its window: the account database and its
// views, the FTP engine, the login handler, the bus of server events, the
// activity log and the server controller, wired together. The
// window and headless mode each build one and plug in how they show things.

#include "access/AccountDatabase.h"
#include "access/ListSwitches.h"
#include "access/LoginHandler.h"
#include "access/QuotaTable.h"
#include "access/ServerEventHandler.h"
#include "actions/ActionService.h"
#include "core/AccountLimitsKeeper.h"
#include "core/AcmeKeeper.h"
#include "core/CertificateTools.h"
#include "core/QuotaCompanion.h"
#include "core/ServerBoxes.h"
#include "core/ServerController.h"
#include "core/SftpStarter.h"
#include "events/ServerEvents.h"
#include "files/OwnFiles.h"
#include "ftp/FtpEngine.h"
#include "monitor/ActivityLog.h"
#include "session/Admission.h"
#include "session/LimitsBook.h"
#include "session/LoginBans.h"
#include "session/RateLimiter.h"
#include "settings/SettingsStore.h"

#include <functional>
#include <memory>

namespace kv {

class ProgramCore {
public:
    using EngineFactory = std::function<std::unique_ptr<ftp::FtpEngine>()>;

    // Opens (or creates) accounts.dat in `dataFolder`; a file that cannot be
    // used leaves the views empty and databaseProblem() set.
    ProgramCore(const QString& dataFolder, SettingsStore& settings, EngineFactory makeEngine);
    ~ProgramCore();

    const QString& dataFolder() const { return dataFolder_; }
    // The data folder and the other files of the program, never served.
    files::OwnFiles& ownFiles() { return ownFiles_; }
    QString logFilePath() const { return log_.filePath(); }
    QString databaseProblem() const { return database_.problem(); }

    SettingsStore& settings() { return settings_; }
    access::AccountDatabase& database() { return database_; }
    access::AccountViews& views() { return views_; }
    ftp::FtpEngine& engine() { return *engine_; }
    // What happens on the server, for any number of subscribers.
    events::ServerEvents& notifications() { return notifications_; }
    access::LoginHandler& login() { return login_; }
    monitor::ActivityLog& log() { return log_; }
    ServerController& server() { return server_; }
    // The SFTP side of the server, started and stopped with it.
    SftpStarter& sftp() { return sftp_; }
    // The open connections of every protocol: FTP's in the order they
    // arrived, then SFTP's.
    QList<session::ConnectionObject*> connections() const;
    // The failed-login counts and bans of the running server.
    session::LoginBans& loginBans() { return bans_; }
    // The speed limits and quotas in force now, for every protocol.
    session::LimitsBook& limitsBook() { return limitsBook_; }
    // Fills the book from the options and accounts.dat at every start and
    // reread, and ends accounts at their expiry date while the server runs.
    AccountLimitsKeeper& limitsKeeper() { return *limitsKeeper_; }
    // An account's limits changed in this program: the book takes them now.
    void accountLimitsChanged() { (void)limitsKeeper_->refreshAccounts(); }
    // Each account's quota as used, kept in accounts.dat while the server runs.
    session::QuotaKeeper& quota() { return quota_; }
    access::QuotaTable& quotaTable() { return quotaTable_; }
    // The speed limits every protocol's transfers move under, read from the book.
    session::RateLimiter& rateLimiter() { return rates_; }
    // The programs and e-mails the action rules start.
    actions::ActionService& actions() { return *actions_; }
    // Gets and renews the FTPS certificate from an ACME CA while the server
    // runs with acme on.
    AcmeKeeper& acmeKeeper() { return *acmeKeeper_; }
    // What answers the CA's checks during an attempt (the acme layer's
    // challenge listener); without it every attempt fails saying so.
    void setAcmeChallengeListeners(std::function<std::unique_ptr<AcmeChallengeListener>()> make) {
        makeAcmeListener_ = std::move(make);
    }

    // A line of the server's own, onto the bus with the sessions' lines.
    void WriteLog(const QString& text);
    // The certificate steps the server start and the settings panel use.
    void setCertificateTools(CertificateTools tools);
    const CertificateTools& certificateTools() const { return certificateTools_; }
    QString DefaultLocalIP() const;

    // How the front end shows things; may be null (then nothing is shown). Log
    // lines and sessions the front ends take from notifications().
    void setServerView(ServerView* view) { server_.setView(view); }
    // Whether lines also go to ftp.log; by default the settings row's `log` field.
    void setLogToFile(std::function<bool()> logToFile) { logToFile_ = std::move(logToFile); }

private:
    // What the log says of its own file goes on the bus, for the screens.
    struct FileNotesToBus : monitor::LogScreen {
        events::ServerEvents* bus = nullptr;
        void ShowLogLine(const QString& line) override;
    };

    QString dataFolder_;
    // Before the engine and SFTP: their sessions hide these until they end.
    files::OwnFiles ownFiles_;
    SettingsStore& settings_;
    EngineFactory makeEngine_;
    access::AccountDatabase database_;
    access::AccountViews views_;
    // Before the engine: its sessions tell the bus until the very end.
    events::ServerEvents notifications_;
    session::LoginBans bans_;
    // Before the engine and SFTP: every session of theirs holds a place in it.
    session::Admission admission_{&bans_};
    // Before the engine and SFTP: their transfers read the limits in force.
    session::LimitsBook limitsBook_;
    // Before the engine and SFTP: their uploads take their quotas here.
    access::QuotaTable quotaTable_;
    session::QuotaKeeper quota_;
    // Before the engine and SFTP: their transfers' flows go through it.
    session::RateLimiter rates_{limitsBook_};
    std::unique_ptr<ftp::FtpEngine> engine_;
    FileNotesToBus fileNotes_;
    // The address lists' switches as saved, whoever saved them.
    access::StoredListSwitches switches_;
    std::function<bool()> logToFile_;
    monitor::ActivityLog log_;
    // Holds the log's subscription to the bus: gone before the log is.
    QObject logSubscription_;
    access::LoginHandler login_;
    access::ServerEventHandler events_;
    SettingsRowBoxes boxes_;
    ServerController server_;
    // After the controller and everything its sessions use: it ends first.
    SftpStarter sftp_;
    QuotaCompanion quotaCompanion_{quota_, sftp_};
    CertificateTools certificateTools_;
    std::unique_ptr<actions::ActionService> actions_;
    std::function<std::unique_ptr<AcmeChallengeListener>()> makeAcmeListener_;
    // After the controller: its reload loads a new pair.
    std::unique_ptr<AcmeKeeper> acmeKeeper_;
    // Last: it closes sessions of the engine and SFTP.
    std::unique_ptr<AccountLimitsKeeper> limitsKeeper_;
};

} // namespace kv
