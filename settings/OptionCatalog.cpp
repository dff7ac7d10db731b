// The declaration of every setting and option.
#include "settings/OptionCatalog.h"

#include "settings/AdminOptions.h"
#include "settings/NetworkOptions.h"
#include "settings/OptionChecks.h"

#include <QRegularExpression>

namespace kv::settings {

namespace {

// TLS versions compare as numbers: "1.2" < "1.3".
std::optional<QString> versionOrder(const QMap<QString, QString>& values) {
    const QString low = values.value(option::kTlsMinVersion);
    const QString high = values.value(option::kTlsMaxVersion);
    if (low.toDouble() <= high.toDouble())
        return std::nullopt;
    return QStringLiteral("Opzioni %1 e %2: la versione minima (%3) è più alta della massima (%4)")
        .arg(option::kTlsMinVersion, option::kTlsMaxVersion, low, high);
}

// A certificate the operator supplied is never replaced by an obtained one.
std::optional<QString> acmeKeepsSuppliedCertificate(const QMap<QString, QString>& values) {
    if (values.value(option::kAcme) != QLatin1String("on") ||
        values.value(option::kTlsCertificate).isEmpty())
        return std::nullopt;
    return QStringLiteral("Opzioni %1 e %2: con un certificato scelto dall'operatore il "
                          "certificato automatico (ACME) non si attiva, perché un certificato "
                          "fornito non viene mai sostituito; svuotare %2 o lasciare %1 a off")
        .arg(option::kAcme, option::kTlsCertificate);
}

OptionDef word(const QString& name, const QStringList& words, const QString& fallback,
               const QString& caption) {
    return OptionDef{name, OptionKind::Word,     words, 0,    0, fallback, caption, std::nullopt,
                     {},   OptionStore::Options, {},    false};
}

OptionDef simple(const QString& name, OptionKind kind, const QString& fallback,
                 const QString& caption) {
    return OptionDef{
        name, kind, {}, 0, 0, fallback, caption, std::nullopt, {}, OptionStore::Options, {}, false};
}

// A whole number from `minimum` to `maximum`; `fresh`: the row a new database gets.
OptionDef integer(const QString& name, int minimum, int maximum, const QString& fallback,
                  const std::optional<QString>& fresh, const QString& caption) {
    return OptionDef{name, OptionKind::Integer,  {}, minimum, maximum, fallback, caption, fresh,
                     {},   OptionStore::Options, {}, false};
}

// Judged by `check`; `fresh`: the row a new database gets.
OptionDef custom(const QString& name, OptionCheckFn check, const std::optional<QString>& fresh,
                 const QString& caption) {
    return OptionDef{name,
                     OptionKind::Custom,
                     {},
                     0,
                     0,
                     QString(),
                     caption,
                     fresh,
                     std::move(check),
                     OptionStore::Options,
                     {},
                     false};
}

// A column of the settings row: `fresh` is what a new database's row holds.
OptionDef column(const QString& name, OptionKind kind, int minimum, int maximum,
                 const QString& fallback, const QString& fresh, const QString& caption,
                 const QString& refusedFormat) {
    return OptionDef{name,          kind,    {},    minimum, maximum,
                     fallback,      caption, fresh, {},      OptionStore::SettingsRow,
                     refusedFormat, false};
}

// A password: stored as given, shown as a mask.
OptionDef secret(const QString& name, const QString& caption) {
    OptionDef def = simple(name, OptionKind::Path, QString(), caption);
    def.writeOnly = true;
    return def;
}

// "host" or "host:port", "[v6]:port"; the port 1-65535.
OptionCheck checkMailServer(const OptionDef& option, const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]+)(:(\\d{1,5}))?$"));
    const QRegularExpressionMatch match = form.match(text);
    if (match.hasMatch()) {
        const QString port = match.captured(3);
        if (port.isEmpty() || (port.toInt() >= 1 && port.toInt() <= 65535))
            return accepted(text);
    }
    return refused(
        refusal(option, text, QStringLiteral("non è un server (host oppure host:porta)")));
}

// An address such as name@example.org: no spaces, one @, something each side.
OptionCheck checkMailFrom(const OptionDef& option, const QString& text) {
    static const QRegularExpression form(QStringLiteral("^[^@\\s<>,;\"]+@[^@\\s<>,;\"]+$"));
    if (form.match(text).hasMatch())
        return accepted(text);
    return refused(refusal(option, text, QStringLiteral("non è un indirizzo e-mail")));
}

QString switchRefusal(const QString& name) {
    return name + QStringLiteral(" vuole 0 o 1, non \"%1\"");
}

} // namespace

OptionCatalog::OptionCatalog(QList<OptionDef> options, QList<OptionRule> rules)
    : options_(std::move(options)), rules_(std::move(rules)) {}

QList<OptionDef> OptionCatalog::options(OptionStore store) const {
    QList<OptionDef> kept;
    for (const OptionDef& option : options_) {
        if (option.store == store)
            kept.append(option);
    }
    return kept;
}

const OptionDef* OptionCatalog::find(const QString& name, OptionStore store) const {
    for (const OptionDef& option : options_) {
        if (option.name == name && option.store == store)
            return &option;
    }
    return nullptr;
}

OptionCheck OptionCatalog::check(const QString& name, const QString& text,
                                 OptionStore store) const {
    if (const OptionDef* option = find(name, store))
        return checkOption(*option, text);
    if (store == OptionStore::SettingsRow) {
        QStringList names;
        for (const OptionDef& option : options(store))
            names.append(option.name);
        return refused(QStringLiteral("Impostazione sconosciuta: %1 (%2)")
                           .arg(shown(name), names.join(QStringLiteral(", "))));
    }
    return refused(QStringLiteral("Opzione sconosciuta: %1").arg(shown(name)));
}

OptionSet OptionCatalog::checkAll(const QMap<QString, QString>& rows) const {
    OptionSet set;
    bool eachValid = true;
    for (const OptionDef& option : options(OptionStore::Options)) {
        const OptionCheck checked = checkOption(option, rows.value(option.name));
        if (checked.ok()) {
            set.values.insert(option.name, checked.value);
        } else {
            set.values.insert(option.name, option.defaultValue);
            set.errors.append(checked.error);
            eachValid = false;
        }
    }
    // A rule over several options only speaks when each of them is valid, so
    // one bad value gives one reason.
    if (eachValid) {
        for (const OptionRule& rule : rules_) {
            if (const auto error = rule(set.values))
                set.errors.append(*error);
        }
    }
    return set;
}

QMap<QString, QString> OptionCatalog::newDatabaseRows() const {
    QMap<QString, QString> rows;
    for (const OptionDef& option : options(OptionStore::Options)) {
        if (option.newDatabaseValue)
            rows.insert(option.name, *option.newDatabaseValue);
    }
    return rows;
}

QMap<QString, QString> OptionCatalog::newSettingsRow() const {
    QMap<QString, QString> row;
    for (const OptionDef& option : options(OptionStore::SettingsRow))
        row.insert(option.name, option.newDatabaseValue.value_or(option.defaultValue));
    return row;
}

const OptionCatalog& optionCatalog() {
    using namespace option;
    using namespace setting;
    constexpr int kInt16Min = -32768;
    constexpr int kInt16Max = 32767;
    static const OptionCatalog catalog(
        {
            // The settings row. The engine's numbers are 16- or 32-bit; an
            // empty one leaves the engine's own value.
            column(kIp, OptionKind::Address, 0, 0, QString(), QStringLiteral("Default"),
                   QStringLiteral("Indirizzo IP su cui il server è attivo (Default = tutti gli "
                                  "indirizzi del PC, IPv6 e IPv4; vuoto = tutti gli indirizzi "
                                  "IPv4)"),
                   QStringLiteral("Indirizzo IP non valido: \"%1\" (un indirizzo o Default)")),
            column(kPort, OptionKind::Integer, 1, 65535, QStringLiteral("21"), QStringLiteral("21"),
                   QStringLiteral("Porta su cui il server è attivo"),
                   QStringLiteral("Porta non valida: \"%1\" (1-65535)")),
            column(kRootDir, OptionKind::Folder, 0, 0, QString(), QString(),
                   QStringLiteral("Root directory di default"),
                   QStringLiteral("La cartella \"%1\" non esiste")),
            column(kStart, OptionKind::Switch, 0, 0, QStringLiteral("0"), QStringLiteral("0"),
                   QStringLiteral("Avvia il server all'avvio del programma"),
                   switchRefusal(kStart)),
            column(kTimeout, OptionKind::Number, 0, kInt16Max, QString(), QStringLiteral("180"),
                   QStringLiteral("Secondi dopo i quali un utente inattivo è disconnesso"),
                   QStringLiteral("Timeout non valido: \"%1\" (secondi, 0-32767; 0 = nessuno)")),
            column(kLog, OptionKind::Switch, 0, 0, QStringLiteral("1"), QStringLiteral("1"),
                   QStringLiteral("Registra il log in ftp.log"), switchRefusal(kLog)),
            column(kIpOk, OptionKind::Switch, 0, 0, QStringLiteral("0"), QStringLiteral("0"),
                   QStringLiteral("Lista degli indirizzi ammessi attiva"), switchRefusal(kIpOk)),
            column(kIpKo, OptionKind::Switch, 0, 0, QStringLiteral("0"), QStringLiteral("0"),
                   QStringLiteral("Lista degli indirizzi bloccati attiva"), switchRefusal(kIpKo)),
            column(kDebugMode, OptionKind::Number, kInt16Min, kInt16Max, QString(),
                   QStringLiteral("0"), QStringLiteral("Modalità di debug del motore FTP"),
                   QStringLiteral("Modalità di debug non valida: \"%1\" (-32768-32767)")),
            column(kResolveLinks, OptionKind::Number, std::numeric_limits<qint32>::min(),
                   std::numeric_limits<qint32>::max(), QString(), QStringLiteral("1"),
                   QStringLiteral("Risoluzione dei collegamenti del motore FTP"),
                   QStringLiteral("Risoluzione dei collegamenti non valida: \"%1\" (un numero "
                                  "intero)")),
            column(kDataLingerTime, OptionKind::Number, 0, kInt16Max, QString(),
                   QStringLiteral("0"),
                   QStringLiteral("Secondi di attesa alla chiusura delle connessioni dati"),
                   QStringLiteral("Attesa sulle connessioni dati non valida: \"%1\" (secondi, "
                                  "0-32767)")),
            column(kMinimized, OptionKind::Number, kInt16Min, kInt16Max, QStringLiteral("0"),
                   QStringLiteral("0"),
                   QStringLiteral("Finestra all'avvio (0 = normale, 1 = minimizzata)"),
                   QStringLiteral("Modalità della finestra non valida: \"%1\" (0 = normale, 1 "
                                  "= minimizzata)")),
            // The options table.
            word(kTls, {QStringLiteral("off"), QStringLiteral("on"), QStringLiteral("required")},
                 QStringLiteral("off"), QStringLiteral("Connessioni protette (FTPS)")),
            simple(kTlsImplicitPort, OptionKind::Port, QStringLiteral("0"),
                   QStringLiteral("Porta FTPS implicita (vuoto = nessuna)")),
            simple(kTlsCertificate, OptionKind::Path, QString(),
                   QStringLiteral("File del certificato (PEM)")),
            simple(kTlsPrivateKey, OptionKind::Path, QString(),
                   QStringLiteral("File della chiave privata (PEM)")),
            simple(kTlsSessionReuse, OptionKind::Switch, QStringLiteral("1"),
                   QStringLiteral("Richiedi la ripresa della sessione TLS sui canali dati")),
            simple(kTlsMinVersion, OptionKind::Version, QStringLiteral("1.2"),
                   QStringLiteral("Versione TLS minima")),
            simple(kTlsMaxVersion, OptionKind::Version, QStringLiteral("1.3"),
                   QStringLiteral("Versione TLS massima")),
            // Certificates obtained and renewed from an ACME CA (Let's Encrypt).
            word(kAcme, {QStringLiteral("off"), QStringLiteral("on")}, QStringLiteral("off"),
                 QStringLiteral("Certificato automatico (ACME, Let's Encrypt)")),
            simple(kAcmeDomains, OptionKind::Path, QString(),
                   QStringLiteral("Nomi del certificato automatico (separati da virgole)")),
            simple(kAcmeEmail, OptionKind::Path, QString(),
                   QStringLiteral("E-mail di contatto per l'autorità ACME (facoltativa)")),
            simple(kAcmeDirectory, OptionKind::Path, defaults::kAcmeProductionDirectory,
                   QStringLiteral("Indirizzo della directory ACME (staging = quella di prova "
                                  "di Let's Encrypt)")),
            simple(kAcmeCaFile, OptionKind::Path, QString(),
                   QStringLiteral("Certificati aggiuntivi di cui fidarsi per la directory ACME "
                                  "(PEM)")),
            word(kAcmeChallenge, {QStringLiteral("http-01"), QStringLiteral("tls-alpn-01")},
                 QStringLiteral("http-01"), QStringLiteral("Verifica ACME")),
            integer(kAcmeHttpPort, 1, 65535, QStringLiteral("80"), std::nullopt,
                    QStringLiteral("Porta della verifica http-01")),
            integer(kAcmeTlsPort, 1, 65535, QStringLiteral("443"), std::nullopt,
                    QStringLiteral("Porta della verifica tls-alpn-01")),
            integer(kAcmeRenewPercent, 1, 99, QStringLiteral("67"), std::nullopt,
                    QStringLiteral("Rinnovo quando è trascorsa questa percentuale della durata "
                                   "del certificato")),
            integer(kLogMaxMib, 0, 4096, QStringLiteral("0"), QStringLiteral("10"),
                    QStringLiteral("Dimensione massima di ftp.log in MiB (0 = nessun limite)")),
            integer(kLogKeep, 1, 100, QString::number(defaults::kLogKeep), QStringLiteral("5"),
                    QStringLiteral("File di log precedenti conservati (ftp.log.1 ...)")),
            custom(kPassivePorts, checkPortRange, QStringLiteral(""),
                   QStringLiteral("Porte per le connessioni dati passive (vuoto = qualsiasi)")),
            custom(kPassiveAddress, checkPublicAddress, QStringLiteral(""),
                   QStringLiteral("Indirizzo pubblico per le risposte PASV (vuoto = quello "
                                  "a cui il client si è collegato)")),
            // A missing row keeps the engine's own limits (defaults::, 1000
            // in all, 500 from one address) and no bans; a new database is protected.
            // From one address: rclone with its defaults opens 12 connections
            // (8 checkers, 4 transfers), 16 with --transfers 8, FileZilla and
            // WinSCP a handful; 32 leaves room for them and a second client
            // behind the same router, while no address holds more than a
            // third of the 100 (32 idle sessions cost under 1 MiB).
            integer(kMaxConnections, 0, 100000, QString::number(defaults::kMaxConnections),
                    QStringLiteral("100"),
                    QStringLiteral("Connessioni contemporanee in tutto (0 = nessun limite)")),
            integer(kMaxConnectionsPerIp, 0, 100000,
                    QString::number(defaults::kMaxConnectionsPerIp), QStringLiteral("32"),
                    QStringLiteral("Connessioni contemporanee da uno stesso indirizzo "
                                   "(0 = nessun limite)")),
            integer(kBanAttempts, 0, 1000, QStringLiteral("0"), QStringLiteral("5"),
                    QStringLiteral("Accessi falliti che bloccano l'indirizzo (0 = protezione "
                                   "disattivata)")),
            integer(kBanWindowMinutes, 1, 1440, QStringLiteral("10"), QStringLiteral("10"),
                    QStringLiteral("Minuti in cui si contano gli accessi falliti")),
            integer(kBanMinutes, 1, 10080, QString::number(defaults::kBanMinutes),
                    QStringLiteral("10"), QStringLiteral("Minuti di blocco dell'indirizzo")),
            // Actions when files arrive: programs and e-mails.
            integer(kActionTimeoutSeconds, 1, 86400, QStringLiteral("60"), std::nullopt,
                    QStringLiteral("Secondi concessi a un programma avviato da un'azione")),
            integer(kActionMaxRunning, 1, 64, QStringLiteral("4"), std::nullopt,
                    QStringLiteral("Programmi delle azioni in esecuzione contemporanea")),
            integer(kMailBatchSeconds, 1, 86400, QStringLiteral("300"), std::nullopt,
                    QStringLiteral("Secondi in cui si raccolgono gli eventi di un'e-mail")),
            custom(kMailServer, checkMailServer, std::nullopt,
                   QStringLiteral("Server di posta in uscita (host:porta)")),
            word(kMailSecurity,
                 {QStringLiteral("starttls"), QStringLiteral("tls"), QStringLiteral("none")},
                 QStringLiteral("starttls"),
                 QStringLiteral("Protezione della connessione al server di posta")),
            simple(kMailCaFile, OptionKind::Path, QString(),
                   QStringLiteral("Certificati aggiuntivi di cui fidarsi (PEM)")),
            simple(kMailUser, OptionKind::Path, QString(),
                   QStringLiteral("Utente del server di posta (vuoto = nessun accesso)")),
            secret(kMailPassword, QStringLiteral("Password del server di posta")),
            custom(kMailFrom, checkMailFrom, std::nullopt, QStringLiteral("Mittente delle e-mail")),
            // SFTP stays off until a port is chosen; a new database says so.
            OptionDef{kSftpPort,
                      OptionKind::Port,
                      {},
                      0,
                      0,
                      QStringLiteral("0"),
                      QStringLiteral("Porta SFTP (0 = SFTP disattivato)"),
                      QStringLiteral("0"),
                      {},
                      OptionStore::Options,
                      {},
                      false},
            simple(kSftpPasswordAuth, OptionKind::Switch, QStringLiteral("1"),
                   QStringLiteral("SFTP: accesso con password")),
            // Speed limits: "in ricezione" is what clients send (uploads),
            // "in invio" what they take (downloads); none unless chosen.
            integer(kRateUpKib, 0, defaults::kMaxRateKib, QStringLiteral("0"), std::nullopt,
                    QStringLiteral("Velocità massima in ricezione (upload) del server, in KiB/s "
                                   "(0 = nessun limite)")),
            integer(kRateDownKib, 0, defaults::kMaxRateKib, QStringLiteral("0"), std::nullopt,
                    QStringLiteral("Velocità massima in invio (download) del server, in KiB/s "
                                   "(0 = nessun limite)")),
            integer(kRateIpUpKib, 0, defaults::kMaxRateKib, QStringLiteral("0"), std::nullopt,
                    QStringLiteral("Velocità massima in ricezione (upload) per indirizzo, in "
                                   "KiB/s (0 = nessun limite)")),
            integer(kRateIpDownKib, 0, defaults::kMaxRateKib, QStringLiteral("0"), std::nullopt,
                    QStringLiteral("Velocità massima in invio (download) per indirizzo, in "
                                   "KiB/s (0 = nessun limite)")),
            simple(kRateLocalExempt, OptionKind::Switch, QStringLiteral("0"),
                   QStringLiteral("Nessun limite di velocità per i client della rete locale")),
            integer(kQuotaWarnPercent, 0, 100, QString::number(defaults::kQuotaWarnPercent),
                    std::nullopt,
                    QStringLiteral("Avviso quando un account usa questa percentuale della sua "
                                   "quota (0 = nessun avviso)")),
            // Remote administration: off until a port is chosen; from the
            // house only unless the operator widens the list.
            simple(kAdminPort, OptionKind::Port, QStringLiteral("0"),
                   QStringLiteral("Porta dell'amministrazione remota (0 = disattivata)")),
            custom(kAdminAddress, checkAdminAddress, std::nullopt,
                   QStringLiteral("Indirizzo dell'amministrazione remota (vuoto = quello del "
                                  "server)")),
            OptionDef{kAdminAllowed,
                      OptionKind::Custom,
                      {},
                      0,
                      0,
                      kDefaultAdminAllowed,
                      QStringLiteral("Indirizzi ammessi all'amministrazione remota (indirizzi, "
                                     "blocchi CIDR o intervalli, separati da virgole)"),
                      std::nullopt,
                      checkAdminAllowed,
                      OptionStore::Options,
                      {},
                      false},
            simple(kAdminRemoteActions, OptionKind::Switch, QStringLiteral("0"),
                   QStringLiteral("Gli amministratori remoti possono gestire le azioni che "
                                  "avviano programmi")),
        },
        {versionOrder, acmeKeepsSuppliedCertificate});
    return catalog;
}

} // namespace kv::settings
