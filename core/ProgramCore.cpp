#include "core/ProgramCore.h"

#include "access/AddressHelpers.h"
#include "core/DataFolder.h"
#include "core/NewDatabase.h"
#include "core/StartOptions.h"
#include "core/WholeDiskWarnings.h"
#include "settings/OptionCatalog.h"

namespace kv {

ProgramCore::ProgramCore(const QString& dataFolder, SettingsStore& settings,
                         EngineFactory makeEngine)
    : dataFolder_(dataFolder), ownFiles_(dataFolder), settings_(settings),
      makeEngine_(std::move(makeEngine)),
      database_(accountsFile(dataFolder), access::AccountDatabase::kShortBusyWaitMs,
                newDatabaseValues(dataFolder)),
      views_((openAccountDatabase(database_, dataFolder), database_)),
      quotaTable_(database_.connection(), [this] { return engine_->ServerRootDir(); }),
      quota_(limitsBook_, &quotaTable_), engine_(makeEngine_()), switches_(database_.connection()),
      logToFile_(
          [this] { return access::SettingsSwitchOn(views_.Data2(), settings::setting::kLog); }),
      log_(
          fileNotes_, [this] { return logToFile_ && logToFile_(); }, logFile(dataFolder)),
      login_(database_.connection(), switches_, [this] { return engine_->ServerRootDir(); }),
      events_(login_, notifications_, monitor::sessionLineStamp()), boxes_(views_.Data2()),
      server_(
          *engine_, boxes_, [this] { return DefaultLocalIP(); },
          [this](const QString& text) { WriteLog(text); }),
      sftp_(*engine_, events_, events_, notifications_, admission_, dataFolder, &ownFiles_) {
    fileNotes_.bus = &notifications_;
    // First of the log's subscribers: ftp.log takes a line before the screens do.
    QObject::connect(&notifications_, &events::ServerEvents::logLine, &logSubscription_,
                     [this](const events::LogLine& line) { log_.record(line); });
    server_.setOptionSource([this] { return views_.options().read(); }, dataFolder_);
    server_.setLogLimits([this](qint64 maxBytes, int keep) { log_.setRotation({maxBytes, keep}); });
    server_.setStartNotes([this] { return login_.InvalidListEntries(); });
    server_.setWholeDiskWarnings([this](const QString& defaultRoot) {
        return wholeDiskWarnings(defaultRoot, database_.connection());
    });
    server_.setBanRules([this](const session::BanRules& rules) { bans_.reset(rules); });
    server_.setCompanion(&quotaCompanion_);
    views_.openAll();
    engine_->setEvents(&events_);
    engine_->setNotifications(&notifications_);
    bans_.setNotifications(&notifications_);
    engine_->setAdmission(&admission_);
    engine_->setRateLimiter(&rates_);
    sftp_.setRateLimiter(&rates_);
    server_.setConnectionLimits(
        [this](const session::Admission::Limits& limits) { admission_.setLimits(limits); });
    engine_->setOwnFiles(&ownFiles_);
    quota_.setNotifications(&notifications_);
    engine_->setQuotaKeeper(&quota_);
    sftp_.setQuotaKeeper(&quota_);
    actions_ = std::make_unique<actions::ActionService>(
        [rules = actions::ActionRulesTable(database_.connection())] { return rules.read(); },
        [this] { return settings::optionCatalog().checkAll(views_.options().read().rows); },
        [this](const QString& text) { WriteLog(text); }, dataFolder_);
    actions_->subscribe(notifications_);
    limitsKeeper_ = std::make_unique<AccountLimitsKeeper>(
        limitsBook_, database_.connection(), notifications_, [this] { return connections(); },
        [this](const QString& text) { WriteLog(text); });
    // What the file says before any start; every start and reread read it again.
    limitsBook_.setServer(
        serverLimits(settings::optionCatalog().checkAll(views_.options().read().rows)));
    (void)limitsKeeper_->refreshAccounts();
    AcmeKeeper::Collaborators acme;
    acme.bus = &notifications_;
    acme.log = [this](const QString& text) { WriteLog(text); };
    acme.reloadServer = [this] { return server_.ServerReload(); };
    acme.makeListener = [this] {
        return makeAcmeListener_ ? makeAcmeListener_() : std::unique_ptr<AcmeChallengeListener>();
    };
    acmeKeeper_ = std::make_unique<AcmeKeeper>(dataFolder_, std::move(acme));
    server_.setServerLimits(
        [this](const session::ServerLimits& limits) {
            limitsKeeper_->serverRead(limits);
            acmeKeeper_->configure(acmeKeeperSettings(views_.options().read().rows, dataFolder_));
            Q_EMIT notifications_.settingsApplied();
        },
        [this] {
            limitsKeeper_->serverStopped();
            acmeKeeper_->configure({});
        });
}

ProgramCore::~ProgramCore() {
    acmeKeeper_.reset(); // its attempt's listener and transport end first
    limitsKeeper_.reset();
    actions_.reset(); // its programs end before the log they write to
    engine_->setEvents(nullptr);
    engine_->setNotifications(nullptr);
    engine_->setOwnFiles(nullptr);
    engine_->setQuotaKeeper(nullptr);
    engine_->setRateLimiter(nullptr);
}

void ProgramCore::WriteLog(const QString& text) {
    Q_EMIT notifications_.logLine(monitor::serverLogLine(text));
}

void ProgramCore::FileNotesToBus::ShowLogLine(const QString& line) {
    events::LogLine note = monitor::serverLogLine(line);
    note.forFile = false;
    if (bus)
        Q_EMIT bus->logLine(note);
}

void ProgramCore::setCertificateTools(CertificateTools tools) {
    certificateTools_ = std::move(tools);
    server_.setPrepareCertificate(certificateTools_.prepare);
}

QList<session::ConnectionObject*> ProgramCore::connections() const {
    return engine_->Connections() + sftp_.server().connections();
}

QString ProgramCore::DefaultLocalIP() const {
    return admin::DefaultLocalIP();
}

} // namespace kv
