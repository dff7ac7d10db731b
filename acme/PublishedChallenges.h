#pragma once
// The answers a challenge listener gives while an order is open: the
// http-01 body by request path, the tls-alpn-01 certificate by server name.

#include "acme/AcmeOrderFlow.h"

#include <QList>
#include <QSslCertificate>
#include <QSslKey>

namespace kv::acme {

// Bounds that keep a stranger from holding a listener's resources.
struct ChallengeLimits {
    int maxRequestBytes = 8 * 1024; // http-01 request line and headers
    int connectionMs = 10 * 1000;   // each connection, from accept to close
    int maxConnections = 32;        // open at once; more are closed at once
};

struct PublishedAnswer {
    PendingChallenge challenge;
    QSslCertificate certificate; // tls-alpn-01 only
    QSslKey key;
};

class PublishedChallenges {
public:
    void add(PublishedAnswer answer) { answers_ << std::move(answer); }
    void clear() { answers_.clear(); }

    // The key authorization for an http-01 request path, matched exactly.
    std::optional<QByteArray> http01Body(const QByteArray& path) const;
    // The tls-alpn-01 answer for the name a client asked for (SNI); with no
    // name, the only published one, if there is exactly one.
    const PublishedAnswer* tlsAlpnAnswer(const QString& serverName) const;

private:
    QList<PublishedAnswer> answers_;
};

} // namespace kv::acme
