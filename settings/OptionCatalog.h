#pragma once
// The one declaration of every server setting of accounts.dat, the columns of
// the `settings` row and the rows of the `options` table alike: name, where it
// is stored, kind of value, range or allowed words, the default an empty value
// means, the Italian caption, and the check that turns a stored or typed text
// into its normal form or an Italian reason naming the setting. The database
// layer, the panels, the command line and the start all read this list, so a
// new setting is one more row in optionCatalog().

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace kv::settings {

enum class OptionKind {
    Word,    // one of `words`
    Integer, // a whole number from `minimum` to `maximum`
    Port,    // 0 (none) or 1-65535
    Path,    // a file path; empty means the default place
    Switch,  // 0 or 1
    Version, // a TLS protocol version: 1.2 or 1.3
    Custom,  // judged by the row's own `custom` check (e.g. a port range, an address)
    Number,  // a decimal number, a fraction rounded half to even, from `minimum` to `maximum`
    Folder,  // an existing folder; empty means the default place
    Address, // "Default" (any letter case), "localhost" or an IPv4 or IPv6 address
};

// Where a value lives: a column of the one `settings` row, or a row of `options`.
enum class OptionStore { Options, SettingsRow };

struct OptionDef;
struct OptionCheck;
using OptionCheckFn = std::function<OptionCheck(const OptionDef& option, const QString& trimmed)>;

struct OptionDef {
    QString name;
    OptionKind kind = OptionKind::Word;
    QStringList words;    // Word: the allowed values, in the order the panel offers them
    int minimum = 0;      // Integer
    int maximum = 0;      // Integer
    QString defaultValue; // what a missing row (or an empty value) means
    QString caption;      // Italian, for the settings panel and the help
    // The row a database created by the program starts with; none: no row.
    std::optional<QString> newDatabaseValue;
    // Custom: the check of a non-empty, trimmed text.
    OptionCheckFn custom;
    OptionStore store = OptionStore::Options;
    // A settings column's refusal, "%1" standing for the text; empty: the
    // options' form "Opzione NAME: TEXT why".
    QString refusedFormat;
    // A secret (a password): written, never shown back; lists show a mask.
    bool writeOnly = false;
};

// What lists and panels show for a write-only option that holds a value.
inline const QString kWriteOnlyMask = QStringLiteral("********");
// The value to show for `option`: a mask for a set write-only one.
QString shownValue(const OptionDef& option, const QString& value);

// A checked value: its normal form, or the Italian reason it is refused.
struct OptionCheck {
    QString value;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Every option that no single value can judge (e.g. a minimum above the
// maximum): given every option's normal value, the reason or nothing.
using OptionRule = std::function<std::optional<QString>(const QMap<QString, QString>& values)>;

// Every option checked at once: each declared option's normal value (the
// default where the row is missing or refused) and every reason found.
struct OptionSet {
    QMap<QString, QString> values;
    QStringList errors;
    bool ok() const { return errors.isEmpty(); }
    QString value(const QString& name) const { return values.value(name); }
};

class OptionCatalog {
public:
    OptionCatalog(QList<OptionDef> options, QList<OptionRule> rules);

    // The declarations kept in one store, in the catalog's order.
    QList<OptionDef> options(OptionStore store = OptionStore::Options) const;
    const OptionDef* find(const QString& name, OptionStore store = OptionStore::Options) const;

    // Checks one value's text; an unknown name is refused too.
    OptionCheck check(const QString& name, const QString& text,
                      OptionStore store = OptionStore::Options) const;
    // Checks stored options rows (name -> value; rows of unknown names are
    // ignored, they may belong to a later version of the program).
    OptionSet checkAll(const QMap<QString, QString>& rows) const;
    // The options rows a new database starts with.
    QMap<QString, QString> newDatabaseRows() const;
    // The settings row a new database starts with (column -> value).
    QMap<QString, QString> newSettingsRow() const;

private:
    QList<OptionDef> options_;
    QList<OptionRule> rules_;
};

// Checks `text` against one declaration.
OptionCheck checkOption(const OptionDef& option, const QString& text);

// The program's options.
const OptionCatalog& optionCatalog();

// The defaults of the numeric options that code outside the catalog starts
// with before any option is read (the engine's limits, a start's options):
// the catalog's rows declare them from here, so they are said once.
namespace defaults {
inline constexpr int kMaxConnections = 1000;
inline constexpr int kMaxConnectionsPerIp = 500;
inline constexpr int kLogKeep = 5;
inline constexpr int kBanMinutes = 10;
// The highest speed limit a rate option or an account takes, in KiB/s (16 GiB/s).
inline constexpr int kMaxRateKib = 16 * 1024 * 1024;
inline constexpr int kQuotaWarnPercent = 80;
inline const QString kAcmeProductionDirectory =
    QStringLiteral("https://acme-v02.api.letsencrypt.org/directory");
inline const QString kAcmeStagingDirectory =
    QStringLiteral("https://acme-staging-v02.api.letsencrypt.org/directory");
} // namespace defaults

// The columns of the settings row, so that code reading one cannot misspell it.
namespace setting {
inline const QString kIp = QStringLiteral("ip");
inline const QString kPort = QStringLiteral("port");
inline const QString kRootDir = QStringLiteral("rootdir");
inline const QString kStart = QStringLiteral("start");
inline const QString kTimeout = QStringLiteral("timeout");
inline const QString kLog = QStringLiteral("log");
inline const QString kIpOk = QStringLiteral("IPok");
inline const QString kIpKo = QStringLiteral("IPko");
inline const QString kDebugMode = QStringLiteral("debugmode");
inline const QString kResolveLinks = QStringLiteral("resolvelinks");
inline const QString kDataLingerTime = QStringLiteral("datalingertime");
inline const QString kMinimized = QStringLiteral("minimized");
} // namespace setting

// The option names, so that code reading a value cannot misspell one.
namespace option {
inline const QString kTls = QStringLiteral("tls");
inline const QString kTlsImplicitPort = QStringLiteral("tls_implicit_port");
inline const QString kTlsCertificate = QStringLiteral("tls_certificate");
inline const QString kTlsPrivateKey = QStringLiteral("tls_private_key");
inline const QString kTlsSessionReuse = QStringLiteral("tls_session_reuse");
inline const QString kTlsMinVersion = QStringLiteral("tls_min_version");
inline const QString kTlsMaxVersion = QStringLiteral("tls_max_version");
inline const QString kLogMaxMib = QStringLiteral("log_max_mib");
inline const QString kLogKeep = QStringLiteral("log_keep");
inline const QString kPassivePorts = QStringLiteral("passive_ports");
inline const QString kPassiveAddress = QStringLiteral("passive_address");
inline const QString kMaxConnections = QStringLiteral("max_connections");
inline const QString kMaxConnectionsPerIp = QStringLiteral("max_connections_per_ip");
inline const QString kBanAttempts = QStringLiteral("ban_attempts");
inline const QString kBanWindowMinutes = QStringLiteral("ban_window_minutes");
inline const QString kBanMinutes = QStringLiteral("ban_minutes");
inline const QString kActionTimeoutSeconds = QStringLiteral("action_timeout_seconds");
inline const QString kActionMaxRunning = QStringLiteral("action_max_running");
inline const QString kMailBatchSeconds = QStringLiteral("mail_batch_seconds");
inline const QString kMailServer = QStringLiteral("mail_server");
inline const QString kMailSecurity = QStringLiteral("mail_security");
inline const QString kMailCaFile = QStringLiteral("mail_ca_file");
inline const QString kMailUser = QStringLiteral("mail_user");
inline const QString kMailPassword = QStringLiteral("mail_password");
inline const QString kMailFrom = QStringLiteral("mail_from");
inline const QString kSftpPort = QStringLiteral("sftp_port");
inline const QString kSftpPasswordAuth = QStringLiteral("sftp_password_auth");
inline const QString kRateUpKib = QStringLiteral("rate_up_kib");
inline const QString kRateDownKib = QStringLiteral("rate_down_kib");
inline const QString kRateIpUpKib = QStringLiteral("rate_ip_up_kib");
inline const QString kRateIpDownKib = QStringLiteral("rate_ip_down_kib");
inline const QString kRateLocalExempt = QStringLiteral("rate_local_exempt");
inline const QString kQuotaWarnPercent = QStringLiteral("quota_warn_percent");
inline const QString kAdminPort = QStringLiteral("admin_port");
inline const QString kAdminAddress = QStringLiteral("admin_address");
inline const QString kAdminAllowed = QStringLiteral("admin_allowed");
inline const QString kAdminRemoteActions = QStringLiteral("admin_remote_actions");
inline const QString kAcme = QStringLiteral("acme");
inline const QString kAcmeDomains = QStringLiteral("acme_domains");
inline const QString kAcmeEmail = QStringLiteral("acme_email");
inline const QString kAcmeDirectory = QStringLiteral("acme_directory");
inline const QString kAcmeCaFile = QStringLiteral("acme_ca_file");
inline const QString kAcmeChallenge = QStringLiteral("acme_challenge");
inline const QString kAcmeHttpPort = QStringLiteral("acme_http_port");
inline const QString kAcmeTlsPort = QStringLiteral("acme_tls_port");
inline const QString kAcmeRenewPercent = QStringLiteral("acme_renew_percent");
} // namespace option

} // namespace kv::settings
