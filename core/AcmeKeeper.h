#pragma once
// Gets, keeps, loads and renews the FTPS certificate from an ACME CA while
// acme is on: plans the next attempt (the schedule decides, a single-shot
// timer waits), runs one attempt at a time, stores the new pair and has it
// loaded through the server's reload, and tells the bus and the log.

#include "core/AcmeAttempt.h"
#include "core/AcmePairStore.h"
#include "core/AcmeSchedule.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace kv::events {
class ServerEvents;
}

namespace kv {

class RenewalInfoQuery;

struct AcmeState {
    bool enabled = false;
    QStringList names;     // of the certificate in use (ACME's), empty when none
    QString issuer;        // its issuer's CN/O, as a person reads it
    QString serial;        // hex
    QDateTime notAfter;    // UTC
    QDateTime nextAttempt; // UTC; invalid when none is planned
    QString lastError;     // Italian explanation of the last failed attempt; empty after a success
    bool working = false;  // an attempt is running
    qint64 attempts = 0;   // attempts finished since the start (to tell a new outcome)
};

// The acme options as an attempt needs them; none of them when acme is off.
struct AcmeKeeperSettings {
    bool enabled = false;
    AcmeAttemptSettings attempt;
    int renewPercent = 67;
};
AcmeKeeperSettings acmeKeeperSettings(const QMap<QString, QString>& optionRows,
                                      const QString& dataFolder);

class AcmeKeeper : public QObject {
    Q_OBJECT
public:
    struct Collaborators {
        events::ServerEvents* bus = nullptr;
        std::function<void(const QString&)> log;
        // Loads the new pair as a reload does; false when the server refused it.
        std::function<bool()> reloadServer;
        std::function<std::unique_ptr<AcmeChallengeListener>()> makeListener;
        std::function<QDateTime()> now = &QDateTime::currentDateTimeUtc;
        std::function<double()> jitter; // 0 to 1; default: random
    };
    AcmeKeeper(const QString& dataFolder, Collaborators collaborators, QObject* parent = nullptr);
    ~AcmeKeeper() override;

    // The options as the server (re)read them: plans the next attempt.
    void configure(const AcmeKeeperSettings& settings);
    AcmeState state() const { return state_; }
    // Starts an attempt at once when enabled and none runs.
    void renewNow();
    const AcmePairStore& store() const { return store_; }

Q_SIGNALS:
    void stateChanged();
    void attemptFinished(bool ok, const QString& reason);

private:
    void readPairInUse();
    void plan();
    void planAt(const QDateTime& when);
    void startAttempt();
    void onSucceeded(const acme::IssuedCertificate& certificate);
    void onFailed(const QString& explanation);
    void finish(bool ok, const QString& reason);
    void warnOfExpiry();
    void askRenewalInfo();
    double jitter() const;

    AcmePairStore store_;
    Collaborators with_;
    AcmeKeeperSettings settings_;
    AcmeState state_;
    QDateTime notBefore_;
    int failuresInARow_ = 0;
    QDateTime warnedFor_;
    QTimer timer_;
    std::unique_ptr<AcmeChallengeListener> listener_;
    std::unique_ptr<AcmeAttempt> attempt_;
    // The CA's suggested window, for the certificate of serial windowFor_.
    std::unique_ptr<RenewalInfoQuery> renewalInfo_;
    std::optional<acme_schedule::RenewalWindow> window_;
    QString windowFor_;
    double windowJitter_ = 0.5;
};

} // namespace kv
