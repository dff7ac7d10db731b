// Passes each of the keeper's calls to a ChallengeServer of its own.
#include "core/ChallengeServerListener.h"

#include "acme/ChallengeServer.h"

namespace kv {

namespace {

class ChallengeServerListener : public AcmeChallengeListener {
public:
    std::optional<QString> open(const QString& type, const QHostAddress& address,
                                quint16 port) override {
        return server_.open(type, address, port);
    }
    std::optional<QString> publish(const acme::PendingChallenge& challenge) override {
        return server_.publish(challenge);
    }
    void withdrawAll() override { server_.withdrawAll(); }
    void close() override { server_.close(); }

private:
    acme::ChallengeServer server_;
};

} // namespace

std::unique_ptr<AcmeChallengeListener> makeChallengeServerListener() {
    return std::make_unique<ChallengeServerListener>();
}

} // namespace kv
