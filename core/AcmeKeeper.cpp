// The ACME certificate's keeper.
#include "core/AcmeKeeper.h"

#include "core/AcmeSchedule.h"
#include "core/RenewalInfoQuery.h"
#include "core/StartOptions.h"
#include "events/ServerEvents.h"
#include "settings/OptionCatalog.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>

namespace kv {

namespace {
// A QTimer waits at most about 24 days; a later time is planned again on the way.
constexpr qint64 kLongestWaitMs = 24LL * 60 * 60 * 1000;
} // namespace

AcmeKeeperSettings acmeKeeperSettings(const QMap<QString, QString>& optionRows,
                                      const QString& dataFolder) {
    using namespace settings::option;
    const settings::OptionSet set = settings::optionCatalog().checkAll(optionRows);
    AcmeKeeperSettings result;
    result.enabled = set.value(kAcme) == QLatin1String("on") && set.errors.isEmpty() &&
                     !set.value(kAcmeDomains).trimmed().isEmpty();
    acme::AcmeOrderSettings& order = result.attempt.order;
    for (const QString& name : set.value(kAcmeDomains).split(QLatin1Char(','), Qt::SkipEmptyParts))
        order.domains << name.trimmed().toLower();
    order.email = set.value(kAcmeEmail).trimmed();
    order.directoryUrl = set.value(kAcmeDirectory).trimmed();
    if (order.directoryUrl.compare(QLatin1String("staging"), Qt::CaseInsensitive) == 0)
        order.directoryUrl = settings::defaults::kAcmeStagingDirectory;
    order.challengeType = set.value(kAcmeChallenge);
    const bool alpn = order.challengeType == QLatin1String("tls-alpn-01");
    result.attempt.challengePort = quint16(set.value(alpn ? kAcmeTlsPort : kAcmeHttpPort).toUInt());
    result.attempt.caFileOption = set.value(kAcmeCaFile);
    if (!result.attempt.caFileOption.isEmpty())
        result.attempt.caFile = resolvedOptionPath(result.attempt.caFileOption, dataFolder, {});
    result.renewPercent = set.value(kAcmeRenewPercent).toInt();
    return result;
}

AcmeKeeper::AcmeKeeper(const QString& dataFolder, Collaborators collaborators, QObject* parent)
    : QObject(parent), store_(dataFolder), with_(std::move(collaborators)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &AcmeKeeper::plan);
    readPairInUse();
}

AcmeKeeper::~AcmeKeeper() = default;

double AcmeKeeper::jitter() const {
    return with_.jitter ? with_.jitter() : QRandomGenerator::global()->generateDouble();
}

void AcmeKeeper::readPairInUse() {
    const auto pair = store_.pairInUse();
    const auto facts = pair ? std::optional(pair->facts) : std::nullopt;
    state_.names = facts ? facts->names : QStringList();
    state_.issuer = facts ? facts->issuer : QString();
    state_.serial = facts ? facts->serial : QString();
    state_.notAfter = facts ? facts->notAfter : QDateTime();
    notBefore_ = facts ? facts->notBefore : QDateTime();
}

void AcmeKeeper::configure(const AcmeKeeperSettings& settings) {
    const bool wasEnabled = settings_.enabled;
    settings_ = settings;
    state_.enabled = settings.enabled;
    readPairInUse();
    if (settings.enabled && !wasEnabled && with_.log) {
        with_.log(state_.names.isEmpty()
                      ? QStringLiteral("ACME: nessun certificato ottenuto finora, FTPS usa il "
                                       "certificato autofirmato fino al suo arrivo")
                      : QStringLiteral("ACME: FTPS usa il certificato per %1, valido fino al %2")
                            .arg(state_.names.join(QStringLiteral(", ")),
                                 state_.notAfter.toString(Qt::ISODate)));
    }
    if (!settings.enabled) {
        timer_.stop();
        state_.nextAttempt = {};
        Q_EMIT stateChanged();
        return;
    }
    plan();
}

void AcmeKeeper::plan() {
    if (!settings_.enabled || attempt_)
        return;
    const QDateTime now = with_.now();
    warnOfExpiry();
    if (state_.notAfter.isValid() && windowFor_ != state_.serial && !renewalInfo_)
        askRenewalInfo(); // the plan is made again when the CA answers
    const bool windowApplies = windowFor_ == state_.serial;
    QDateTime when = state_.nextAttempt;
    if (failuresInARow_ == 0 || !when.isValid()) {
        when =
            state_.notAfter.isValid()
                ? acme_schedule::renewalTime(notBefore_, state_.notAfter, settings_.renewPercent,
                                             windowApplies ? window_ : std::nullopt, windowJitter_)
                : now;
    }
    if (when <= now) {
        startAttempt();
        return;
    }
    planAt(when);
}

void AcmeKeeper::planAt(const QDateTime& when) {
    state_.nextAttempt = when.toUTC();
    const qint64 wait = std::clamp<qint64>(with_.now().msecsTo(when), 0, kLongestWaitMs);
    timer_.start(int(wait));
    Q_EMIT stateChanged();
}

void AcmeKeeper::renewNow() {
    if (settings_.enabled && !attempt_)
        startAttempt();
}

void AcmeKeeper::startAttempt() {
    timer_.stop();
    if (auto error = store_.ensureFolder())
        return finish(false, *error);
    const acme::AccountKeyResult account = acme::loadOrCreateAccountKey(store_.accountKeyFile());
    if (!account.key)
        return finish(false, account.error);
    listener_ = with_.makeListener ? with_.makeListener() : nullptr;
    if (!listener_)
        return finish(false, QStringLiteral("Nessun servizio di verifica ACME disponibile"));
    attempt_ = std::make_unique<AcmeAttempt>(settings_.attempt, *account.key, *listener_);
    connect(attempt_.get(), &AcmeAttempt::succeeded, this, &AcmeKeeper::onSucceeded);
    connect(attempt_.get(), &AcmeAttempt::failed, this, &AcmeKeeper::onFailed);
    state_.working = true;
    state_.nextAttempt = {};
    Q_EMIT stateChanged();
    attempt_->start();
}

void AcmeKeeper::onSucceeded(const acme::IssuedCertificate& certificate) {
    if (auto problem = store_.install(certificate.chainPem, certificate.keyPem))
        return finish(false, *problem);
    // A stopped server loads the pair at its next start.
    if (settings_.enabled && with_.reloadServer && !with_.reloadServer()) {
        store_.rollback();
        return finish(false, QStringLiteral("Il server non ha potuto caricare il nuovo "
                                            "certificato: resta in uso il precedente"));
    }
    readPairInUse();
    finish(true, QStringLiteral("Certificato per %1 ottenuto da %2, valido fino al %3")
                     .arg(state_.names.join(QStringLiteral(", ")), state_.issuer,
                          state_.notAfter.toString(Qt::ISODate)));
}

void AcmeKeeper::onFailed(const QString& explanation) {
    finish(false, explanation);
}

void AcmeKeeper::finish(bool ok, const QString& reason) {
    if (attempt_)
        attempt_.release()->deleteLater(); // its signal is still being delivered
    listener_.reset();
    state_.working = false;
    ++state_.attempts;
    state_.lastError = ok ? QString() : reason;
    if (ok) {
        failuresInARow_ = 0;
        state_.nextAttempt = {};
    } else {
        ++failuresInARow_;
        state_.nextAttempt =
            with_.now().addMSecs(acme_schedule::retryDelayMs(failuresInARow_, jitter()));
    }
    if (with_.log)
        with_.log(ok ? QStringLiteral("ACME: %1; FTPS lo usa per le nuove connessioni").arg(reason)
                     : QStringLiteral("ACME: certificato non ottenuto: %1").arg(reason));
    if (with_.bus)
        Q_EMIT(ok ? with_.bus->certificateRenewed(reason) : with_.bus->certificateFailed(reason));
    Q_EMIT attemptFinished(ok, reason);
    plan();
    Q_EMIT stateChanged();
}

void AcmeKeeper::askRenewalInfo() {
    const auto pair = store_.pairInUse();
    QFile file(pair ? pair->certificateFile : QString());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QString serial = state_.serial;
    renewalInfo_ = std::make_unique<RenewalInfoQuery>();
    connect(renewalInfo_.get(), &RenewalInfoQuery::finished, this,
            [this, serial](const QDateTime& start, const QDateTime& end) {
                renewalInfo_.release()->deleteLater(); // its signal is still being delivered
                windowFor_ = serial;
                window_ = start.isValid() ? std::optional(acme_schedule::RenewalWindow{start, end})
                                          : std::nullopt;
                windowJitter_ = jitter();
                if (!timer_.isActive() || failuresInARow_ > 0)
                    return; // an attempt runs, or a retry is planned: it stays as it is
                plan();
            });
    renewalInfo_->start(settings_.attempt.order.directoryUrl, settings_.attempt.caFile,
                        file.readAll());
}

void AcmeKeeper::warnOfExpiry() {
    if (!acme_schedule::expiryWarningDue(with_.now(), state_.notAfter, warnedFor_))
        return;
    warnedFor_ = state_.notAfter;
    const QString warning =
        QStringLiteral("Il certificato per %1 scade il %2 e non è stato ancora rinnovato")
            .arg(state_.names.join(QStringLiteral(", ")), state_.notAfter.toString(Qt::ISODate));
    if (with_.log)
        with_.log(QStringLiteral("ACME: ") + warning);
    if (with_.bus)
        Q_EMIT with_.bus->certificateFailed(warning);
}

} // namespace kv
