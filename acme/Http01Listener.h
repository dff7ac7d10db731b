#pragma once
// The http-01 answer: a tiny HTTP/1.0 and 1.1 server that answers GET of a
// published /.well-known/acme-challenge/TOKEN with its key authorization and
// everything else with an error, one request per connection, then closes.
// It never serves a file. Request line and headers are bounded in size, the
// connection in time.

#include "acme/PublishedChallenges.h"

#include <QTcpServer>

namespace kv::acme {

class Http01Listener : public QTcpServer {
    Q_OBJECT
public:
    Http01Listener(const PublishedChallenges& published, ChallengeLimits limits,
                   QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QByteArray answer(const QByteArray& head) const;

    const PublishedChallenges& published_;
    ChallengeLimits limits_;
    int connections_ = 0;
};

} // namespace kv::acme
