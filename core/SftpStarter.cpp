#include "core/SftpStarter.h"

#include "sftp/SftpHostKeys.h"

namespace kv {

SftpStarter::SftpStarter(ftp::FtpEngine& engine, session::EngineEvents& events,
                         sftp::KeyLogins& keys, events::ServerEvents& bus,
                         session::Admission& admission, QString dataFolder,
                         const files::OwnFiles* ownFiles)
    : engine_(engine), events_(events), keys_(keys), bus_(bus), admission_(admission),
      dataFolder_(std::move(dataFolder)), ownFiles_(ownFiles) {}

std::optional<QString> SftpStarter::start(const ServerConfig& config, QStringList& lines) {
    const StartOptions& options = config.options;
    if (options.sftpPort == 0) {
        server_.stop();
        return std::nullopt;
    }
    sftp::SftpListenSettings s;
    s.port = options.sftpPort;
    // SFTP listens where FTP does.
    s.address = engine_.LocalAddress();
    s.hostKeys = sftp::hostKeyFiles(dataFolder_);
    if (const QString problem = sftp::ensureHostKeys(s.hostKeys); !problem.isEmpty())
        return problem;
    s.context.events = &events_;
    s.context.keys = &keys_;
    s.context.bus = &bus_;
    s.context.bans = admission_.bans();
    s.admission = &admission_;
    s.context.rates = rates_;
    s.context.passwordAuth = options.sftpPasswordAuth;
    s.context.followLinks = config.resolveLinks.value_or(engine_.ResolveLinks()) != 0;
    s.context.ownFiles = ownFiles_;
    s.context.quota = quota_;
    s.context.timeoutSeconds = config.timeout.value_or(engine_.Timeout());
    s.context.serverRoot = config.root;
    QString error;
    if (!server_.listen(s, &error))
        return error;
    lines << QStringLiteral("SFTP IN ASCOLTO SULLA PORTA %1").arg(server_.port());
    for (const QString& line : sftp::hostKeyFingerprintLines(s.hostKeys))
        lines << QStringLiteral("Chiave host SFTP %1").arg(line);
    return std::nullopt;
}

void SftpStarter::stop() {
    server_.stop();
}

} // namespace kv
