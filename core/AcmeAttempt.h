#pragma once
// One try at obtaining a certificate: the challenge listener opened on the
// configured port, the order driven over the libcurl transport (its
// blocking calls on the transport's worker thread, every decision here on
// the event loop), each challenge published while the CA checks it, and the
// outcome as a pair or as the operator's explanation.

#include "acme/AccountKey.h"
#include "acme/AcmeOrderFlow.h"
#include "core/AcmeExplanation.h"

#include <QHostAddress>
#include <QObject>

#include <memory>
#include <optional>

namespace kv::acme {
class AcmeHttpTransport;
}

namespace kv {

// What answers the CA's checks (the acme layer's ChallengeServer).
class AcmeChallengeListener {
public:
    virtual ~AcmeChallengeListener() = default;
    // The Italian reason when it cannot listen.
    virtual std::optional<QString> open(const QString& type, const QHostAddress& address,
                                        quint16 port) = 0;
    // The answer is in place when it returns; the reason when it cannot be made.
    virtual std::optional<QString> publish(const acme::PendingChallenge& challenge) = 0;
    virtual void withdrawAll() = 0;
    virtual void close() = 0;
};

struct AcmeAttemptSettings {
    acme::AcmeOrderSettings order;
    QString caFile; // resolved; empty: the system's roots only
    QString caFileOption;
    QHostAddress listenAddress = QHostAddress::Any;
    quint16 challengePort = 80;
};

class AcmeAttempt : public QObject {
    Q_OBJECT
public:
    AcmeAttempt(AcmeAttemptSettings settings, acme::AccountKey accountKey,
                AcmeChallengeListener& listener, QObject* parent = nullptr);
    ~AcmeAttempt() override;

    // Opens the listener and starts the order; the outcome comes as a signal,
    // never from inside start().
    void start();

Q_SIGNALS:
    void succeeded(const kv::acme::IssuedCertificate& certificate);
    void failed(const QString& explanation);

private:
    void fail(const QString& explanation);
    AcmeAttemptContext context() const;

    AcmeAttemptSettings settings_;
    acme::AccountKey accountKey_;
    AcmeChallengeListener& listener_;
    std::unique_ptr<acme::AcmeHttpTransport> transport_;
    std::unique_ptr<acme::AcmeOrderFlow> flow_;
    bool finished_ = false;
};

} // namespace kv
