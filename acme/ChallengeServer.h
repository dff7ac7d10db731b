#pragma once
// Answers the CA's checks while an order is open: listens for one challenge
// type on the configured port, serves the published answers, and says in
// Italian why it cannot listen.

#include "acme/AcmeOrderFlow.h"
#include "acme/PortHolder.h"
#include "acme/PublishedChallenges.h"

#include <QHostAddress>
#include <QObject>

#include <memory>
#include <optional>

class QTcpServer;

namespace kv::acme {

class ChallengeServer : public QObject {
    Q_OBJECT
public:
    explicit ChallengeServer(QObject* parent = nullptr) : ChallengeServer({}, parent) {}
    explicit ChallengeServer(ChallengeLimits limits, QObject* parent = nullptr);
    ~ChallengeServer() override;

    // Listens for `type` ("http-01" or "tls-alpn-01") on address:port; the
    // Italian reason when it cannot, naming the program holding the port
    // when the system says. An open listener is closed first.
    std::optional<QString> open(const QString& type, const QHostAddress& address, quint16 port);
    // The answer is in place when it returns; the reason when it cannot be
    // made (the tls-alpn-01 certificate).
    std::optional<QString> publish(const PendingChallenge& challenge);
    void withdrawAll();
    void close();
    bool isOpen() const;
    // The port listened on (the one chosen by the system when 0 was asked).
    quint16 port() const;

private:
    ChallengeLimits limits_;
    PublishedChallenges published_;
    std::unique_ptr<QTcpServer> listener_;
};

} // namespace kv::acme
