#include "acme/AcmeOrderFlow.h"

#include "acme/CertificateRequest.h"
#include "acme/ChallengeAnswers.h"
#include "acme/Jws.h"
#include "acme/OpenSslHandles.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace kv::acme {

namespace {

constexpr int kMaxBadNonceInARow = 20; // CAs may refuse a good nonce now and then

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

AcmeProblem problemFromObject(const QString& step, const QJsonObject& error) {
    AcmeResponse response;
    response.status = 200;
    response.body = compact(error);
    return problemFromResponse(step, response);
}

} // namespace

AcmeOrderFlow::AcmeOrderFlow(AccountKey accountKey, AcmeOrderSettings settings, QObject* parent)
    : QObject(parent), accountKey_(std::move(accountKey)), settings_(std::move(settings)),
      pollSchedule_(settings_.firstPollMs, settings_.defaultPollMs, settings_.maxPollMs) {}

void AcmeOrderFlow::start() {
    send(Step::Directory, AcmeRequest::Method::Get, settings_.directoryUrl);
}

void AcmeOrderFlow::send(Step step, AcmeRequest::Method method, const QString& url) {
    step_ = step;
    AcmeRequest request;
    request.method = method;
    request.url = url;
    Q_EMIT requestReady(request);
}

void AcmeOrderFlow::post(Step step, const QString& url, const QByteArray& payload,
                         const QByteArray& accept) {
    pending_ = {step, url, payload, accept};
    if (nonce_.isEmpty())
        send(Step::Nonce, AcmeRequest::Method::Head, newNonceUrl_);
    else
        sendPendingPost();
}

void AcmeOrderFlow::sendPendingPost() {
    // Until the account exists the request carries the key, then its URL.
    const QString kid = pending_.step == Step::Account ? QString() : accountUrl_;
    AcmeRequest request;
    request.method = AcmeRequest::Method::Post;
    request.url = pending_.url;
    request.accept = pending_.accept;
    request.body = signedRequest(accountKey_, pending_.url, nonce_, pending_.payload, kid);
    nonce_.clear(); // each nonce is good once
    if (request.body.isEmpty()) {
        failWith(AcmeProblem::Source::Local, QStringLiteral("firma della richiesta non riuscita"));
        return;
    }
    step_ = pending_.step;
    Q_EMIT requestReady(request);
}

void AcmeOrderFlow::receive(const AcmeResponse& response) {
    if (step_ == Step::Idle || step_ == Step::Done)
        return;
    if (const QByteArray nonce = response.headers.value("replay-nonce"); !nonce.isEmpty())
        nonce_ = nonce;
    if (response.status == 0 || response.status >= 400) {
        AcmeProblem problem = problemFromResponse(stepName(step_), response);
        const bool isPost = step_ != Step::Directory && step_ != Step::Nonce;
        if (isPost && problem.shortType() == QLatin1String("badNonce") &&
            badNonceInARow_ < kMaxBadNonceInARow) {
            ++badNonceRetries_;
            ++badNonceInARow_;
            post(pending_.step, pending_.url, pending_.payload, pending_.accept);
            return;
        }
        fail(problem);
        return;
    }
    badNonceInARow_ = 0;
    handle(response);
}

void AcmeOrderFlow::handle(const AcmeResponse& response) {
    const QJsonObject body = QJsonDocument::fromJson(response.body).object();
    switch (step_) {
    case Step::Directory:
        onDirectory(body);
        return;
    case Step::Nonce:
        if (nonce_.isEmpty())
            failWith(AcmeProblem::Source::Answer, QStringLiteral("la CA non ha dato un nonce"));
        else
            sendPendingPost();
        return;
    case Step::Account:
        onAccount(response);
        return;
    case Step::Order:
        onOrder(response);
        return;
    case Step::Authorization:
        onAuthorization(body, response);
        return;
    case Step::Challenge:
        pollLater(response, Step::Authorization, authorizations_.value(authorizationIndex_));
        return;
    case Step::Finalize:
    case Step::OrderStatus:
        onOrderStatus(body, response);
        return;
    case Step::Certificate:
        step_ = Step::Done;
        Q_EMIT succeeded({response.body, certificateKeyPem_});
        return;
    case Step::Idle:
    case Step::Done:
        return;
    }
}

void AcmeOrderFlow::onDirectory(const QJsonObject& body) {
    newNonceUrl_ = body.value(QStringLiteral("newNonce")).toString();
    newAccountUrl_ = body.value(QStringLiteral("newAccount")).toString();
    newOrderUrl_ = body.value(QStringLiteral("newOrder")).toString();
    renewalInfoUrl_ = body.value(QStringLiteral("renewalInfo")).toString();
    if (newNonceUrl_.isEmpty() || newAccountUrl_.isEmpty() || newOrderUrl_.isEmpty()) {
        failWith(
            AcmeProblem::Source::Answer,
            QStringLiteral("%1 non è la directory di una CA ACME").arg(settings_.directoryUrl));
        return;
    }
    QJsonObject account{{QStringLiteral("termsOfServiceAgreed"), true}};
    if (!settings_.email.isEmpty())
        account.insert(QStringLiteral("contact"),
                       QJsonArray{QStringLiteral("mailto:") + settings_.email});
    post(Step::Account, newAccountUrl_, compact(account));
}

void AcmeOrderFlow::onAccount(const AcmeResponse& response) {
    accountUrl_ = QString::fromUtf8(response.headers.value("location"));
    if (accountUrl_.isEmpty()) {
        failWith(AcmeProblem::Source::Answer,
                 QStringLiteral("la CA non ha indicato l'indirizzo dell'account"));
        return;
    }
    QJsonArray identifiers;
    for (const QString& domain : settings_.domains)
        identifiers.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("dns")},
                                       {QStringLiteral("value"), domain}});
    post(Step::Order, newOrderUrl_, compact({{QStringLiteral("identifiers"), identifiers}}));
}

void AcmeOrderFlow::onOrder(const AcmeResponse& response) {
    const QJsonObject body = QJsonDocument::fromJson(response.body).object();
    orderUrl_ = QString::fromUtf8(response.headers.value("location"));
    finalizeUrl_ = body.value(QStringLiteral("finalize")).toString();
    authorizations_.clear();
    for (const QJsonValue& url : body.value(QStringLiteral("authorizations")).toArray())
        authorizations_ << url.toString();
    if (orderUrl_.isEmpty() || finalizeUrl_.isEmpty() || authorizations_.isEmpty()) {
        failWith(AcmeProblem::Source::Answer, QStringLiteral("ordine incompleto dalla CA"));
        return;
    }
    authorizationIndex_ = 0;
    nextAuthorization();
}

void AcmeOrderFlow::nextAuthorization() {
    if (authorizationIndex_ >= authorizations_.size()) {
        if (challengesOpen_) {
            challengesOpen_ = false;
            Q_EMIT challengesDone();
        }
        finalizeOrder();
        return;
    }
    challengeTriggered_ = false;
    post(Step::Authorization, authorizations_.at(authorizationIndex_), {});
}

void AcmeOrderFlow::onAuthorization(const QJsonObject& body, const AcmeResponse& response) {
    const QString status = body.value(QStringLiteral("status")).toString();
    const QString domain = body.value(QStringLiteral("identifier"))
                               .toObject()
                               .value(QStringLiteral("value"))
                               .toString();
    QJsonObject challenge;
    for (const QJsonValue& value : body.value(QStringLiteral("challenges")).toArray())
        if (value.toObject().value(QStringLiteral("type")).toString() == settings_.challengeType)
            challenge = value.toObject();
    if (status == QLatin1String("valid")) {
        ++authorizationIndex_;
        nextAuthorization();
        return;
    }
    if (status == QLatin1String("invalid")) {
        AcmeProblem problem = problemFromObject(
            stepName(Step::Challenge), challenge.value(QStringLiteral("error")).toObject());
        problem.identifier = domain;
        fail(problem);
        return;
    }
    if (status != QLatin1String("pending")) {
        failWith(AcmeProblem::Source::Answer,
                 QStringLiteral("autorizzazione per %1 nello stato %2").arg(domain, status));
        return;
    }
    if (challengeTriggered_) {
        pollLater(response, Step::Authorization, authorizations_.at(authorizationIndex_));
        return;
    }
    const QByteArray token = challenge.value(QStringLiteral("token")).toString().toLatin1();
    const QString url = challenge.value(QStringLiteral("url")).toString();
    if (token.isEmpty() || url.isEmpty()) {
        failWith(AcmeProblem::Source::Answer,
                 QStringLiteral("la CA non offre la verifica %1 per %2")
                     .arg(settings_.challengeType, domain));
        return;
    }
    challengeTriggered_ = true;
    challengesOpen_ = true;
    Q_EMIT challengeReady({domain, settings_.challengeType, token,
                           keyAuthorization(token, accountKey_.thumbprint())});
    startPolling();
    post(Step::Challenge, url, "{}");
}

void AcmeOrderFlow::finalizeOrder() {
    const CertificateRequest request = makeCertificateRequest(settings_.domains);
    if (!request.error.isEmpty()) {
        failWith(AcmeProblem::Source::Local, request.error);
        return;
    }
    certificateKeyPem_ = request.keyPem;
    startPolling();
    post(Step::Finalize, finalizeUrl_,
         compact({{QStringLiteral("csr"), QString::fromLatin1(base64Url(request.csrDer))}}));
}

void AcmeOrderFlow::onOrderStatus(const QJsonObject& body, const AcmeResponse& response) {
    const QString status = body.value(QStringLiteral("status")).toString();
    if (status == QLatin1String("valid")) {
        certificateUrl_ = body.value(QStringLiteral("certificate")).toString();
        if (certificateUrl_.isEmpty())
            failWith(AcmeProblem::Source::Answer,
                     QStringLiteral("ordine valido senza l'indirizzo del certificato"));
        else
            post(Step::Certificate, certificateUrl_, {}, "application/pem-certificate-chain");
        return;
    }
    if (status == QLatin1String("invalid")) {
        fail(problemFromObject(stepName(Step::Finalize),
                               body.value(QStringLiteral("error")).toObject()));
        return;
    }
    pollLater(response, Step::OrderStatus, orderUrl_); // processing
}

void AcmeOrderFlow::startPolling() {
    polling_.start();
    pollSchedule_.restart();
}

void AcmeOrderFlow::pollLater(const AcmeResponse& response, Step step, const QString& url) {
    if (polling_.isValid() && polling_.elapsed() > settings_.giveUpAfterMs) {
        failWith(AcmeProblem::Source::Timeout,
                 QStringLiteral("la CA non ha concluso la verifica in %1 minuti")
                     .arg(settings_.giveUpAfterMs / 60000));
        return;
    }
    const int delay = pollSchedule_.nextDelayMs(response.headers.value("retry-after"),
                                                QDateTime::currentDateTimeUtc());
    QTimer::singleShot(delay, this, [this, step, url] {
        if (step_ != Step::Done)
            post(step, url, {});
    });
}

void AcmeOrderFlow::fail(AcmeProblem problem) {
    if (step_ == Step::Done)
        return;
    step_ = Step::Done;
    if (challengesOpen_) {
        challengesOpen_ = false;
        Q_EMIT challengesDone();
    }
    Q_EMIT failed(problem);
}

void AcmeOrderFlow::failWith(AcmeProblem::Source source, const QString& detail) {
    AcmeProblem problem;
    problem.source = source;
    problem.step = stepName(step_);
    problem.detail = detail;
    fail(problem);
}

QString AcmeOrderFlow::stepName(Step step) {
    switch (step) {
    case Step::Idle:
    case Step::Directory:
        return QStringLiteral("directory");
    case Step::Nonce:
        return QStringLiteral("newNonce");
    case Step::Account:
        return QStringLiteral("newAccount");
    case Step::Order:
        return QStringLiteral("newOrder");
    case Step::Authorization:
        return QStringLiteral("authorization");
    case Step::Challenge:
        return QStringLiteral("challenge");
    case Step::Finalize:
        return QStringLiteral("finalize");
    case Step::OrderStatus:
        return QStringLiteral("order");
    case Step::Certificate:
        return QStringLiteral("certificate");
    case Step::Done:
        break;
    }
    return QStringLiteral("done");
}

} // namespace kv::acme
