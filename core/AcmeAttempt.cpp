// One ACME attempt wired together.
#include "core/AcmeAttempt.h"

#include "acme/AcmeHttpTransport.h"

#include <QTimer>

namespace kv {

AcmeAttempt::AcmeAttempt(AcmeAttemptSettings settings, acme::AccountKey accountKey,
                         AcmeChallengeListener& listener, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), accountKey_(std::move(accountKey)),
      listener_(listener) {}

AcmeAttempt::~AcmeAttempt() {
    if (!finished_)
        listener_.close();
}

AcmeAttemptContext AcmeAttempt::context() const {
    return {settings_.order.challengeType, settings_.challengePort, settings_.order.domains,
            settings_.caFileOption};
}

void AcmeAttempt::start() {
    if (const auto reason = listener_.open(settings_.order.challengeType, settings_.listenAddress,
                                           settings_.challengePort)) {
        const QString explanation = explainChallengePortBusy(*reason, context());
        QTimer::singleShot(0, this, [this, explanation] { fail(explanation); });
        return;
    }
    transport_ = std::make_unique<acme::AcmeHttpTransport>();
    if (!settings_.caFile.isEmpty()) {
        if (const auto reason = transport_->trustExtraCertificates(settings_.caFile)) {
            const QString explanation = QStringLiteral("Opzione acme_ca_file: %1").arg(*reason);
            QTimer::singleShot(0, this, [this, explanation] { fail(explanation); });
            return;
        }
    }
    flow_ = std::make_unique<acme::AcmeOrderFlow>(accountKey_, settings_.order);
    connect(flow_.get(), &acme::AcmeOrderFlow::requestReady, transport_.get(),
            &acme::AcmeHttpTransport::send);
    connect(transport_.get(), &acme::AcmeHttpTransport::answered, flow_.get(),
            &acme::AcmeOrderFlow::receive);
    connect(flow_.get(), &acme::AcmeOrderFlow::challengeReady, this,
            [this](const acme::PendingChallenge& challenge) {
                if (finished_) // the listener may be gone once the outcome is out
                    return;
                if (const auto reason = listener_.publish(challenge))
                    fail(QStringLiteral("La risposta alla verifica %1 per %2 non si può preparare: "
                                        "%3")
                             .arg(challenge.type, challenge.domain, *reason));
            });
    connect(flow_.get(), &acme::AcmeOrderFlow::challengesDone, this, [this] {
        if (!finished_)
            listener_.withdrawAll();
    });
    connect(flow_.get(), &acme::AcmeOrderFlow::succeeded, this,
            [this](const acme::IssuedCertificate& certificate) {
                if (finished_)
                    return;
                finished_ = true;
                listener_.close();
                Q_EMIT succeeded(certificate);
            });
    connect(
        flow_.get(), &acme::AcmeOrderFlow::failed, this,
        [this](const acme::AcmeProblem& problem) { fail(explainAcmeProblem(problem, context())); });
    flow_->start();
}

void AcmeAttempt::fail(const QString& explanation) {
    if (finished_)
        return;
    finished_ = true;
    listener_.close();
    Q_EMIT failed(explanation);
}

} // namespace kv
