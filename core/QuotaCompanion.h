#pragma once
// The quota keeper runs with the server: its tallies are read (and the stale
// ones counted again) when the server starts, and kept as current when it
// stops. A window that only attaches to another server never touches them.

#include "core/ServerController.h"
#include "session/QuotaKeeper.h"

namespace kv {

class QuotaCompanion : public CompanionServer {
public:
    // `next` starts and stops with it (SFTP).
    QuotaCompanion(session::QuotaKeeper& keeper, CompanionServer& next)
        : keeper_(keeper), next_(next) {}

    std::optional<QString> start(const ServerConfig& config, QStringList& lines) override {
        keeper_.start(); // a reload finds it started and changes nothing
        return next_.start(config, lines);
    }
    void stop() override {
        next_.stop();
        keeper_.stop();
    }

private:
    session::QuotaKeeper& keeper_;
    CompanionServer& next_;
};

} // namespace kv
