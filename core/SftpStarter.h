#pragma once
// SFTP started and stopped with the FTP server: on its own port when
// `sftp_port` is set, with the configuration's timeout, link rule and root
// (the engine's where a stored value was refused), the same login handler,
// log, bus and admission (limits and bans over both protocols). The host keys are made in
// the data folder at the first start, and their fingerprints logged.

#include "core/ServerController.h"
#include "events/ServerEvents.h"
#include "ftp/FtpEngine.h"
#include "session/Admission.h"
#include "sftp/SftpServer.h"

namespace kv {

class SftpStarter : public CompanionServer {
public:
    // `ownFiles` (hidden from every login) is kept alive by the caller.
    SftpStarter(ftp::FtpEngine& engine, session::EngineEvents& events, sftp::KeyLogins& keys,
                events::ServerEvents& bus, session::Admission& admission, QString dataFolder,
                const files::OwnFiles* ownFiles = nullptr);

    std::optional<QString> start(const ServerConfig& config, QStringList& lines) override;
    void stop() override;
    // Where uploads take their accounts' quotas (null: none), from the next start.
    void setQuotaKeeper(session::QuotaKeeper* keeper) { quota_ = keeper; }
    // The speed limits SFTP reads and writes move under; null: none.
    void setRateLimiter(session::RateLimiter* rates) { rates_ = rates; }
    sftp::SftpServer& server() { return server_; }
    const sftp::SftpServer& server() const { return server_; }

private:
    ftp::FtpEngine& engine_;
    session::EngineEvents& events_;
    sftp::KeyLogins& keys_;
    events::ServerEvents& bus_;
    session::Admission& admission_;
    QString dataFolder_;
    const files::OwnFiles* ownFiles_;
    session::QuotaKeeper* quota_ = nullptr;
    session::RateLimiter* rates_ = nullptr;
    sftp::SftpServer server_;
};

} // namespace kv
