#pragma once
// Keeps a window attached to one remote server: the fingerprint expected
// comes from known_servers; a server never trusted, or one whose
// certificate changed, is put to the operator before anything is sent; a
// refused password is asked again, never retried as it was; a connection
// that failed or was lost is tried again after 1 s, then twice as long each
// time up to a minute. A changed certificate stops everything until the
// operator decides.

#include "adminchannel/AdminConnection.h"
#include "adminchannel/RemoteAdmin.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

namespace kv {

class AttachedServer;
class KnownServers;

// What follows a failed connection.
enum class RemoteStep {
    RetryLater,      // nobody answered, or the channel was lost: try again after the back-off
    AskTrust,        // a server never trusted: its fingerprint to the operator
    AskTrustChanged, // not the certificate trusted: both fingerprints to the operator
    AskPassword,     // the password was refused: asked again, never resent as it was
    StayDisconnected // the server refuses this address: said, not retried
};
RemoteStep stepAfter(AdminConnection::Failure failure);

// The waits between attempts: 1 s, 2 s, 4 s ... 60 s, 60 s ...
class ReconnectBackoff {
public:
    static constexpr int kFirstMs = 1000;
    static constexpr int kLongestMs = 60000;
    // The wait before the next attempt; each call doubles the one after it.
    int next();
    // After a connection that worked: the next wait is the first again.
    void reset() { nextMs_ = kFirstMs; }

private:
    int nextMs_ = kFirstMs;
};

class RemoteLink : public QObject {
    Q_OBJECT
public:
    // The operator's answers, asked when the event loop is free again (a
    // dialog may run its own loop).
    struct Questions {
        // A server never trusted: true to trust `seen`.
        std::function<bool(const RemoteServerAddress&, const QString& seen)> trustFirst;
        // A different certificate: true to trust `seen` in place of `known`.
        std::function<bool(const RemoteServerAddress&, const QString& known, const QString& seen)>
            trustChanged;
        // The password was refused (`reason`): another one, or nullopt to stay disconnected.
        std::function<std::optional<QString>(const QString& reason)> password;
    };

    RemoteLink(AttachedServer& server, KnownServers& known, RemoteServerAddress address,
               QString password, Questions questions, QObject* parent = nullptr);

    const RemoteServerAddress& address() const { return address_; }
    // Connects now (at start, or when the operator asks again), whatever waited.
    void connectNow();
    // Whether an attempt waits for the back-off; retryInMs() says how long it was.
    bool retrying() const { return retry_.isActive(); }

Q_SIGNALS:
    // Attached and logged in: the data is to be fetched.
    void linked();
    // The connection failed or was lost; tried again in `retryInMs`.
    void lost(const QString& reason, int retryInMs);
    // Not tried again until connectNow(): refused, untrusted, or the operator said no.
    void stopped(const QString& reason);
    // A fingerprint was trusted (first time or replacing another).
    void trusted(const QString& fingerprint);

private:
    void onFailure(AdminConnection::Failure failure, const QString& reason);
    void onGone(const QString& reason);
    void decide(AdminConnection::Failure failure, const QString& reason);
    void retryLater(const QString& reason);
    void trustAndConnect(const QString& fingerprint);

    AttachedServer& server_;
    KnownServers& known_;
    RemoteServerAddress address_;
    QString password_;
    Questions questions_;
    ReconnectBackoff backoff_;
    QTimer retry_;
};

} // namespace kv
