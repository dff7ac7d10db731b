#pragma once
// The tls-alpn-01 answer: a TLS server that offers ALPN "acme-tls/1" alone
// and presents the RFC 8737 certificate of the name the client asks for.
// Before the handshake, the ClientHello is peeked from the socket (left in
// place for the TLS socket to read): a client that does not offer
// "acme-tls/1", or names no published name, is closed without a handshake.
// With no name asked for, the only published name is served; with several,
// the connection is closed.

#include "acme/ClientHelloProbe.h"
#include "acme/PublishedChallenges.h"

#include <QTcpServer>

namespace kv::acme {

inline constexpr char kAcmeTlsProtocol[] = "acme-tls/1";

class TlsAlpnListener : public QTcpServer {
    Q_OBJECT
public:
    TlsAlpnListener(const PublishedChallenges& published, ChallengeLimits limits,
                    QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void startHandshake(int descriptor, QObject* connection, const PublishedAnswer& answer);

    const PublishedChallenges& published_;
    ChallengeLimits limits_;
    ClientHelloProbe probe_;
    int connections_ = 0;
};

} // namespace kv::acme
