#pragma once
// One certificate order from start to finish, as the steps of RFC 8555:
// directory, nonce, account, order, each authorization with its challenge,
// finalize with a CSR for a new key, then the chain. It knows nothing of
// HTTP: it asks for requests with requestReady() and is given their answers
// with receive(), one at a time, so any transport (or a test) can carry
// them. Waits between polls are timers on the event loop. A badNonce is
// sent again with the fresh nonce; every failure ends in failed() with the
// CA's problem kept.

#include "acme/AccountKey.h"
#include "acme/AcmeMessages.h"
#include "acme/PollSchedule.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QStringList>

namespace kv::acme {

struct AcmeOrderSettings {
    QString directoryUrl;
    QStringList domains;
    QString email;                                     // optional account contact
    QString challengeType = QStringLiteral("http-01"); // or "tls-alpn-01"
    // Between polls when the CA names no Retry-After: the first wait, doubled
    // at each poll up to the longest. A CA that checks at once is seen at once.
    int firstPollMs = 250;
    int defaultPollMs = 2000;
    int maxPollMs = 60000;              // a longer Retry-After is cut to this
    int giveUpAfterMs = 10 * 60 * 1000; // total polling before it gives up
};

// What a challenge listener must answer while the CA checks one name.
struct PendingChallenge {
    QString domain;
    QString type; // "http-01" or "tls-alpn-01"
    QByteArray token;
    QByteArray keyAuthorization;
};

struct IssuedCertificate {
    QByteArray chainPem; // the certificate first, then the intermediates
    QByteArray keyPem;
};

class AcmeOrderFlow : public QObject {
    Q_OBJECT
public:
    AcmeOrderFlow(AccountKey accountKey, AcmeOrderSettings settings, QObject* parent = nullptr);

    void start();
    // The answer to the last requestReady().
    void receive(const kv::acme::AcmeResponse& response);

    // Known once the directory has been read; empty when the CA has none.
    QString renewalInfoUrl() const { return renewalInfoUrl_; }
    QString accountUrl() const { return accountUrl_; }
    int badNonceRetries() const { return badNonceRetries_; }

Q_SIGNALS:
    void requestReady(const kv::acme::AcmeRequest& request);
    // Emitted before the CA is told to look: the answer must be in place
    // when the slot returns.
    void challengeReady(const kv::acme::PendingChallenge& challenge);
    // Every name is checked (or the order ended): the answers can go.
    void challengesDone();
    void succeeded(const kv::acme::IssuedCertificate& certificate);
    void failed(const kv::acme::AcmeProblem& problem);

private:
    enum class Step {
        Idle,
        Directory,
        Nonce,
        Account,
        Order,
        Authorization,
        Challenge,
        Finalize,
        OrderStatus,
        Certificate,
        Done,
    };
    void send(Step step, AcmeRequest::Method method, const QString& url);
    void post(Step step, const QString& url, const QByteArray& payload,
              const QByteArray& accept = {});
    void sendPendingPost();
    void handle(const AcmeResponse& response);
    void onDirectory(const QJsonObject& body);
    void onAccount(const AcmeResponse& response);
    void onOrder(const AcmeResponse& response);
    void nextAuthorization();
    void onAuthorization(const QJsonObject& body, const AcmeResponse& response);
    void onOrderStatus(const QJsonObject& body, const AcmeResponse& response);
    void finalizeOrder();
    void startPolling();
    void pollLater(const AcmeResponse& response, Step step, const QString& url);
    void fail(AcmeProblem problem);
    void failWith(AcmeProblem::Source source, const QString& detail);
    static QString stepName(Step step);

    AccountKey accountKey_;
    AcmeOrderSettings settings_;
    Step step_ = Step::Idle;
    QByteArray nonce_;
    QString newNonceUrl_, newAccountUrl_, newOrderUrl_, renewalInfoUrl_;
    QString accountUrl_, orderUrl_, finalizeUrl_, certificateUrl_;
    QStringList authorizations_;
    int authorizationIndex_ = 0;
    bool challengeTriggered_ = false;
    bool challengesOpen_ = false;
    QByteArray certificateKeyPem_;
    // The POST in flight, sent again with a new nonce on badNonce.
    struct PendingPost {
        Step step = Step::Idle;
        QString url;
        QByteArray payload;
        QByteArray accept;
    } pending_;
    int badNonceRetries_ = 0;
    int badNonceInARow_ = 0;
    QElapsedTimer polling_;
    PollSchedule pollSchedule_;
};

} // namespace kv::acme

Q_DECLARE_METATYPE(kv::acme::PendingChallenge)
Q_DECLARE_METATYPE(kv::acme::IssuedCertificate)
