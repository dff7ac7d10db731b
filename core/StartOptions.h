#pragma once
// The options a server start hands to the engine, read from the options rows
// and checked through the option catalog: the TLS settings with the
// certificate and key paths resolved (an empty path means the generated
// files in the data folder, a relative one is taken inside it).

#include "ftp/PassiveSettings.h"
#include "ftp/TlsSettings.h"
#include "session/LimitsBook.h"
#include "session/LoginBans.h"
#include "settings/OptionCatalog.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace kv {

struct StartOptions {
    ftp::TlsSettings tls;
    // acme is on, and its pair (DATA/acme/) is the certificate of `tls`.
    bool acmeOn = false;
    bool acmeCertificateInUse = false;
    // ftp.log's size limit in bytes (0: none) and how many rotated files stay.
    qint64 logMaxBytes = 0;
    int logKeep = settings::defaults::kLogKeep;
    // The passive range, and the public address when it is given as one.
    ftp::PassiveSettings passive;
    // A host name given as the public address, to be resolved; else empty.
    QString passiveHostName;
    // Open control connections in all and from one address (0: no limit).
    int maxConnections = settings::defaults::kMaxConnections;
    int maxConnectionsPerIp = settings::defaults::kMaxConnectionsPerIp;
    session::BanRules bans;
    // The SFTP port (0: no SFTP) and whether SSH passwords are accepted.
    quint16 sftpPort = 0;
    bool sftpPasswordAuth = true;
    // The server's and each address's speed limits, the local-network
    // exemption and the quota warning's share.
    session::ServerLimits limits;
    // Italian, one reason a line, naming the option; empty when the start may go on.
    QStringList errors;
    bool ok() const { return errors.isEmpty(); }
};

// The length of a "minute" of the ban options, in milliseconds: 60000, or
// the value of KESTROVA_BAN_MINUTE_MS (1 to 60000) so that the end-to-end
// tests can watch a ban start and end within seconds.
qint64 banMinuteMs();

// A path option's file: `fallback` when empty, a relative path inside `dataFolder`.
QString resolvedOptionPath(const QString& path, const QString& dataFolder, const QString& fallback);

// The server's limits from checked options (a refused value: its default).
session::ServerLimits serverLimits(const settings::OptionSet& options);

// Checks `rows` (the options table) and builds the settings. With TLS on, a
// certificate or key file named in the options must be a readable file.
StartOptions readStartOptions(const QMap<QString, QString>& rows, const QString& dataFolder,
                              const settings::OptionCatalog& catalog = settings::optionCatalog());

} // namespace kv
