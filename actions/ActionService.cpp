#include "actions/ActionService.h"

namespace kv::actions {

ActionService::ActionService(std::function<RuleList()> rules, Options options, Log log,
                             const QString& dataFolder, QObject* parent)
    : QObject(parent), rules_(std::move(rules)), options_(std::move(options)), log_(log),
      runner_(log, dataFolder, this), sender_(this),
      batcher_(
          log, [this, dataFolder] { return mailSettings(options_(), dataFolder); },
          [this] { return options_().value(settings::option::kMailBatchSeconds).toInt() * 1000; },
          sender_, mailRetryDelaysMs(), this) {}

void ActionService::subscribe(events::ServerEvents& bus) {
    using events::ServerEvents;
    connect(&bus, &ServerEvents::transferFinished, this,
            [this](const events::TransferEvent& transfer) {
                if (const auto event = fromTransfer(transfer, QDateTime::currentDateTimeUtc()))
                    handle(*event);
            });
    connect(&bus, &ServerEvents::fileChanged, this, [this](const events::FileEvent& change) {
        if (const auto event = fromFileChange(change, QDateTime::currentDateTimeUtc()))
            handle(*event);
    });
    connect(&bus, &ServerEvents::loginFailed, this, [this](const events::LoginFailure& failure) {
        handle(fromLoginFailure(failure, QDateTime::currentDateTimeUtc()));
    });
    connect(&bus, &ServerEvents::addressBanned, this, [this](const events::AddressBan& ban) {
        handle(fromBan(ban, QDateTime::currentDateTimeUtc()));
    });
    connect(&bus, &ServerEvents::quotaWarning, this, [this](const events::AccountNotice& notice) {
        handle(fromQuotaWarning(notice, QDateTime::currentDateTimeUtc()));
    });
    connect(&bus, &ServerEvents::accountExpired, this, [this](const events::AccountNotice& notice) {
        handle(fromAccountExpired(notice, QDateTime::currentDateTimeUtc()));
    });
    connect(&bus, &ServerEvents::adminLoggedIn, this, [this](const QString& address) {
        handle(fromAdminLogin(address, QDateTime::currentDateTimeUtc()));
    });
    connect(&bus, &ServerEvents::certificateRenewed, this, [this](const QString& detail) {
        handle(fromCertificate(false, detail, QDateTime::currentDateTimeUtc()));
    });
    connect(&bus, &ServerEvents::certificateFailed, this, [this](const QString& detail) {
        handle(fromCertificate(true, detail, QDateTime::currentDateTimeUtc()));
    });
}

void ActionService::handle(const ActionEvent& event) {
    const RuleList list = rules_();
    if (!list.error.isEmpty()) {
        log_(QStringLiteral("AZIONI non eseguite: %1").arg(list.error));
        return;
    }
    bool limitsSet = false;
    for (const ActionRule& rule : list.rules) {
        if (!ruleMatches(rule, event))
            continue;
        if (rule.kind == ActionKind::Mail) {
            batcher_.add(rule.id, mailAddresses(rule.target), event);
            continue;
        }
        if (!limitsSet) {
            const settings::OptionSet options = options_();
            runner_.setLimits(
                {options.value(settings::option::kActionMaxRunning).toInt(),
                 options.value(settings::option::kActionTimeoutSeconds).toInt() * 1000});
            limitsSet = true;
        }
        runner_.submit(rule.target, event);
    }
}

} // namespace kv::actions
