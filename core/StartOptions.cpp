// Turns the checked options rows into the engine's TLS and passive settings,
// the connection limits and the ban rules.
#include "core/StartOptions.h"

#include "core/AcmePairStore.h"

#include "core/DataFolder.h"
#include "settings/NetworkOptions.h"

#include <QDir>
#include <QFileInfo>

namespace kv {

namespace {

using namespace settings::option;

ftp::TlsMode tlsMode(const QString& word) {
    if (word == QLatin1String("required"))
        return ftp::TlsMode::Required;
    if (word == QLatin1String("on"))
        return ftp::TlsMode::On;
    return ftp::TlsMode::Off;
}

ftp::TlsVersion tlsVersion(const QString& text) {
    return text == QLatin1String("1.3") ? ftp::TlsVersion::V1_3 : ftp::TlsVersion::V1_2;
}

// A file the operator named must be there to be read; the generated ones are
// made at start when missing, so only their folder matters (checked by the engine).
std::optional<QString> unreadable(const QString& option, const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("Opzione %1: il file %2 non esiste")
            .arg(option, QDir::toNativeSeparators(path));
    if (!info.isFile() || !info.isReadable())
        return QStringLiteral("Opzione %1: il file %2 non è leggibile")
            .arg(option, QDir::toNativeSeparators(path));
    return std::nullopt;
}

QString resolved(const QString& path, const QString& dataFolder, const QString& fallback) {
    return resolvedOptionPath(path, dataFolder, fallback);
}

} // namespace

qint64 banMinuteMs() {
    bool ok = false;
    const qint64 ms = qEnvironmentVariable("KESTROVA_BAN_MINUTE_MS").toLongLong(&ok);
    return ok && ms >= 1 && ms <= 60000 ? ms : 60000;
}

QString resolvedOptionPath(const QString& path, const QString& dataFolder,
                           const QString& fallback) {
    if (path.isEmpty())
        return fallback;
    return QDir::cleanPath(QDir(dataFolder).absoluteFilePath(path));
}

session::ServerLimits serverLimits(const settings::OptionSet& options) {
    session::ServerLimits limits;
    limits.rateUpKib = options.value(kRateUpKib).toLongLong();
    limits.rateDownKib = options.value(kRateDownKib).toLongLong();
    limits.addressRateUpKib = options.value(kRateIpUpKib).toLongLong();
    limits.addressRateDownKib = options.value(kRateIpDownKib).toLongLong();
    limits.localExempt = options.value(kRateLocalExempt) == QLatin1String("1");
    limits.quotaWarnPercent = options.value(kQuotaWarnPercent).toInt();
    return limits;
}

StartOptions readStartOptions(const QMap<QString, QString>& rows, const QString& dataFolder,
                              const settings::OptionCatalog& catalog) {
    StartOptions result;
    const settings::OptionSet set = catalog.checkAll(rows);
    result.errors = set.errors;

    result.logMaxBytes = set.value(kLogMaxMib).toLongLong() * 1024 * 1024;
    result.logKeep = set.value(kLogKeep).toInt();
    result.maxConnections = set.value(kMaxConnections).toInt();
    result.maxConnectionsPerIp = set.value(kMaxConnectionsPerIp).toInt();
    const qint64 minute = banMinuteMs();
    result.bans = {set.value(kBanAttempts).toInt(),
                   set.value(kBanWindowMinutes).toLongLong() * minute,
                   set.value(kBanMinutes).toLongLong() * minute};

    result.sftpPort = quint16(set.value(kSftpPort).toUInt());
    result.sftpPasswordAuth = set.value(kSftpPasswordAuth) == QLatin1String("1");
    result.limits = serverLimits(set);

    if (const auto range = settings::portRange(set.value(kPassivePorts))) {
        result.passive.portFirst = range->first;
        result.passive.portLast = range->second;
    }
    const QString publicAddress = set.value(kPassiveAddress);
    if (settings::isIPv4Literal(publicAddress))
        result.passive.publicAddress = QHostAddress(publicAddress);
    else
        result.passiveHostName = publicAddress;

    ftp::TlsSettings& tls = result.tls;
    tls.mode = tlsMode(set.value(kTls));
    tls.implicitPort = quint16(set.value(kTlsImplicitPort).toUInt());
    tls.certificateFile =
        resolved(set.value(kTlsCertificate), dataFolder, defaultCertificateFile(dataFolder));
    tls.privateKeyFile =
        resolved(set.value(kTlsPrivateKey), dataFolder, defaultPrivateKeyFile(dataFolder));
    // With acme on, a usable obtained pair takes the generated one's place.
    result.acmeOn = set.value(kAcme) == QLatin1String("on");
    if (result.acmeOn && set.value(kTlsCertificate).isEmpty()) {
        const AcmePairStore store(dataFolder);
        if (const auto pair = store.pairInUse()) {
            tls.certificateFile = pair->certificateFile;
            tls.privateKeyFile = pair->keyFile;
            result.acmeCertificateInUse = true;
        }
    }
    tls.requireSessionReuse = set.value(kTlsSessionReuse) == QLatin1String("1");
    tls.minVersion = tlsVersion(set.value(kTlsMinVersion));
    tls.maxVersion = tlsVersion(set.value(kTlsMaxVersion));

    if (tls.enabled() && result.ok()) {
        const std::pair<QString, QString> named[] = {{kTlsCertificate, set.value(kTlsCertificate)},
                                                     {kTlsPrivateKey, set.value(kTlsPrivateKey)}};
        for (const auto& [option, path] : named) {
            if (path.isEmpty())
                continue;
            if (auto error = unreadable(option, resolved(path, dataFolder, {})))
                result.errors.append(*error);
        }
    }
    return result;
}

} // namespace kv
