#include "program/Cli.h"

#include "access/AccountDatabase.h"
#include "adminchannel/AdminClient.h"
#include "adminchannel/KnownServers.h"
#include "core/DataFolder.h"
#include "core/NewDatabase.h"
#include "program/CliAdmin.h"
#include "program/CliContext.h"
#include "program/CliRemote.h"
#include "program/CliRemoteCopy.h"

#include <QMap>

namespace kv::cli {

namespace {

struct Group {
    int (*run)(CliContext&);
    const char* help;
};

const QMap<QString, Group>& groups() {
    static const QMap<QString, Group> table = {
        {QStringLiteral("user"),
         {&userCommand,
          "kestrova user add NOME [--root CARTELLA] [--rights rwdbm] [--disabled] [--whole-disk]\n"
          "                 [LIMITI]\n"
          "kestrova user passwd NOME\n"
          "kestrova user del NOME\n"
          "kestrova user list [--json]\n"
          "kestrova user set NOME [--login NUOVO] [--root CARTELLA] [--rights rwdbm] [--enabled "
          "0|1]\n"
          "                 [--whole-disk] [LIMITI]\n"
          "kestrova user key add NOME        (la riga di una chiave pubblica, es. id_ed25519.pub,\n"
          "                                   dallo standard input)\n"
          "kestrova user key list NOME [--json]\n"
          "kestrova user key del NOME IMPRONTA\n"
          "La password si legge dallo standard input (chiesta senza eco su un terminale) ed è\n"
          "salvata come hash yescrypt. Diritti: r lettura, w scrittura, d cancellazione,\n"
          "b navigazione, m gestione cartelle. --login rinomina l'account: chiavi, azioni e\n"
          "cartelle virtuali lo seguono. --root / (tutto il disco) vuole anche --whole-disk.\n"
          "Una chiave pubblica apre l'account via SFTP senza password: tipi accettati\n"
          "ssh-ed25519, ecdsa-sha2-nistp256/384/521, ssh-rsa di almeno 2048 bit. L'impronta\n"
          "(SHA256:...) è quella che stampa ssh-keygen -lf.\n"
          "LIMITI (0 = nessun limite; ricezione = ciò che il client invia, upload; invio = ciò\n"
          "che il client scarica, download):\n"
          "  --rate-up KIB, --rate-down KIB       velocità dell'account in KiB/s, per tutte le\n"
          "                                       sue sessioni insieme (FTP e SFTP)\n"
          "  --session-rate-up KIB, --session-rate-down KIB   velocità di ogni sessione\n"
          "  --quota DIMENSIONE                   byte, oppure un numero con K, M, G o T\n"
          "                                       (potenze di 1024): 500M, 2G\n"
          "  --quota-files N                      numero massimo di file\n"
          "  --expires AAAA-MM-GG|never           l'account può accedere fino alla fine di quel\n"
          "                                       giorno (mezzanotte locale), poi è scaduto\n"
          "Un server in funzione applica i limiti cambiati da qui con kestrova reload.\n"}},
        {QStringLiteral("anonymous"),
         {&anonymousCommand, "kestrova anonymous on|off|set [--root CARTELLA] [--rights rwdbm] "
                             "[--whole-disk] [LIMITI]\n"
                             "kestrova anonymous show [--json]\n"
                             "LIMITI come per kestrova user (kestrova help user).\n"}},
        {QStringLiteral("vdir"),
         {&vdirCommand,
          "kestrova vdir add PROPRIETARIO NOME DESTINAZIONE [--source CARTELLA]\n"
          "kestrova vdir del PROPRIETARIO NOME\n"
          "kestrova vdir list [PROPRIETARIO] [--json]\n"
          "PROPRIETARIO: il login di un account o anonymous. La cartella virtuale NOME compare\n"
          "dentro CARTELLA (la radice dell'account se omessa) e mostra DESTINAZIONE.\n"}},
        {QStringLiteral("ip"),
         {&ipCommand, "kestrova ip allow|block add VOCE\n"
                      "kestrova ip allow|block del VOCE\n"
                      "kestrova ip allow|block list [--json]\n"
                      "kestrova ip allow|block on|off\n"
                      "VOCE: un indirizzo, un blocco CIDR (192.168.1.0/24), un intervallo\n"
                      "(10.0.0.5-10.0.0.20) o un indirizzo con * (192.168.1.*).\n"}},
        {QStringLiteral("option"),
         {&optionCommand, "kestrova option list [--json]\n"
                          "kestrova option get NOME\n"
                          "kestrova option set NOME VALORE\n"
                          "kestrova option unset NOME   (torna al valore predefinito)\n"}},
        {QStringLiteral("action"),
         {&actionCommand,
          "kestrova action add EVENTO (--run \"PROGRAMMA ARGOMENTI\" | --mail INDIRIZZO[,...])\n"
          "                 [--user LOGIN|*] [--path PERCORSO]\n"
          "kestrova action list [--json]\n"
          "kestrova action del ID\n"
          "kestrova action on|off ID\n"
          "EVENTO: upload, download, delete, rename, mkdir, login-failed, ban, quota-warning,\n"
          "account-expired, admin-login, certificate-renewed, certificate-failed. PERCORSO:\n"
          "come lo vede il client (/scansioni/*.pdf; * resta in una cartella, ** le attraversa).\n"
          "--run avvia il programma senza shell: la riga è divisa in parole (le virgolette\n"
          "doppie raggruppano), nient'altro è interpretato: $HOME, ;, | e > arrivano al\n"
          "programma così come sono. Il programma riceve KV_EVENT, KV_USER, KV_ADDRESS, KV_PATH,\n"
          "KV_FILE, KV_SIZE, KV_TIME, KV_PROTOCOL, KV_DETAIL (quota-warning, account-expired,\n"
          "certificate-*: che cosa è successo) e parte nella cartella del file.\n"
          "--mail manda un'e-mail per gruppo di eventi (opzione mail_batch_seconds).\n"}},
        {QStringLiteral("mail"),
         {&mailCommand, "kestrova mail test INDIRIZZO   (invia subito un'e-mail di prova)\n"
                        "Il server è nelle opzioni mail_server, mail_security, mail_ca_file,\n"
                        "mail_user, mail_password, mail_from.\n"}},
        {QStringLiteral("quota"),
         {&quotaCommand,
          "kestrova quota show [NOME] [--json]   (spazio e file usati, limiti, percentuale)\n"
          "kestrova quota scan [NOME]            (li conta di nuovo dal disco)\n"
          "Si contano i file nella cartella radice dell'account e nelle sue cartelle virtuali,\n"
          "ognuno una volta sola. Con il server in funzione risponde il server.\n"}},
        {QStringLiteral("admin"),
         {&adminSetupCommand,
          "kestrova admin passwd        (password dell'amministrazione remota: da standard\n"
          "                             input, o chiesta due volte senza eco su un terminale)\n"
          "kestrova admin fingerprint   (impronta SHA256 del certificato di amministrazione,\n"
          "                             da confrontare con quella che il client mostra)\n"
          "L'amministrazione remota si attiva con l'opzione admin_port (indirizzo:\n"
          "admin_address; indirizzi ammessi: admin_allowed).\n"}},
        {QStringLiteral("settings"),
         {&settingsCommand,
          "kestrova settings show [--json]\n"
          "kestrova settings set CAMPO VALORE   (CAMPO: una riga di settings show)\n"
          "kestrova settings set rootdir / --whole-disk   (condivide tutto il disco: solo\n"
          "                                              con --whole-disk)\n"}},
    };
    return table;
}

const char* const kRemoteHelp =
    "Su un server di un altro PC (amministrazione remota, TLS 1.3): ogni comando qui sopra\n"
    "tranne mail test, con\n"
    "kestrova --remote HOST[:PORTA] COMANDO ...   (porta predefinita 14021)\n"
    "  La password di amministrazione (kestrova admin passwd sul server) si prende da\n"
    "  --admin-password-file FILE (- per lo standard input), dalla variabile\n"
    "  KESTROVA_ADMIN_PASSWORD, oppure si chiede senza eco su un terminale.\n"
    "  L'impronta del certificato del server (sul server: kestrova admin fingerprint, o il\n"
    "  pannello Impostazioni, gruppo \"Amministrazione remota\") è ricordata in\n"
    "  ~/.config/Kestrova Vellim/known_servers: la prima volta si conferma su un terminale,\n"
    "  oppure la si dà con --trust SHA256:... Stato d'uscita come in locale, più 4 quando\n"
    "  l'impronta non è quella ricordata (non si invia nulla).\n";

QString allHelp() {
    QString text = QStringLiteral("Comandi (su accounts.dat, anche mentre il server è in funzione; "
                                  "--data-dir CARTELLA sceglie la cartella):\n");
    for (auto it = groups().begin(); it != groups().end(); ++it)
        text += QString::fromUtf8(it->help);
    return text + allAdminHelp() + QString::fromUtf8(kRemoteHelp) +
           QStringLiteral("kestrova help COMANDO\n");
}

// "--data-dir DIR" or "--data-dir=DIR" taken out of the arguments.
QString takeDataDir(QStringList& args, bool& malformed) {
    QString dir;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--data-dir")) {
            if (i + 1 >= args.size()) {
                malformed = true;
                return {};
            }
            dir = args.takeAt(i + 1);
            args.removeAt(i--);
        } else if (args[i].startsWith(QLatin1String("--data-dir="))) {
            dir = args.takeAt(i--).mid(11);
        }
    }
    return dir;
}

// `group` with its words `args` against the remote server.
int runRemote(const QString& group, const QStringList& args, const RemoteOptions& remote,
              CliIo& io) {
    if (group == QLatin1String("mail")) {
        io.err << QStringLiteral(
                      "kestrova mail test prova la posta del PC da cui parte: si usa sul "
                      "server, non con --remote")
               << Qt::endl;
        return kUsage;
    }
    if (group == QLatin1String("admin")) {
        // The copy holds neither the password nor the certificate: a change
        // there would be lost and a fingerprint read there would be another's.
        io.err << QStringLiteral("kestrova admin si usa sul PC del server, non con --remote: la "
                                 "password e il certificato di amministrazione restano lì")
               << Qt::endl;
        return kUsage;
    }
    AdminClient client;
    KnownServers known;
    if (const auto failed = connectRemote(client, remote, known, io))
        return *failed;
    if (isAdminCommand(group))
        return runAdminCommand(group, args, remote.server->text(), io, &client);
    if (group == QLatin1String("quota")) {
        CliContext c{QSqlDatabase(), remote.server->text(), {}, io, &client};
        c.args.words = args;
        return quotaCommand(c);
    }
    return runOnRemoteCopy(groups()[group].run, args, client, io);
}

} // namespace

bool isSubcommand(const QString& word) {
    return word == QLatin1String("help") || groups().contains(word) || isAdminCommand(word);
}

int runSubcommand(const QStringList& argsIn,
                  const std::function<QString(const QString&)>& dataFolder, CliIo& io) {
    QStringList args = argsIn;
    const RemoteOptions remote = takeRemoteOptions(args);
    if (!remote.error.isEmpty()) {
        io.err << remote.error << Qt::endl;
        return kUsage;
    }
    bool malformed = false;
    const QString dataDir = takeDataDir(args, malformed);
    if (malformed || args.isEmpty()) {
        io.err << QStringLiteral("L'opzione --data-dir vuole una cartella") << Qt::endl;
        return kUsage;
    }
    if (remote.server && !dataDir.isEmpty()) {
        io.err << QStringLiteral("--data-dir e --remote non vanno insieme: i dati sono quelli del "
                                 "server remoto")
               << Qt::endl;
        return kUsage;
    }
    // Options may come before the subcommand's word ("--json user list").
    qsizetype at = 0;
    while (at + 1 < args.size() && args[at].startsWith(QLatin1Char('-')))
        ++at;
    const QString group = args.takeAt(at);
    if (group == QLatin1String("help")) {
        if (args.isEmpty()) {
            io.out << allHelp();
            return kDone;
        }
        if (isAdminCommand(args.first())) {
            io.out << adminHelp(args.first());
            return kDone;
        }
        if (!groups().contains(args.first())) {
            io.err << QStringLiteral("Comando sconosciuto: %1").arg(args.first()) << Qt::endl;
            return kUsage;
        }
        io.out << QString::fromUtf8(groups()[args.first()].help);
        return kDone;
    }
    if (isAdminCommand(group)) {
        if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
            io.out << adminHelp(group);
            return kDone;
        }
        if (remote.server)
            return runRemote(group, args, remote, io);
        return runAdminCommand(group, args, dataFolder(dataDir), io);
    }
    if (!groups().contains(group)) {
        io.err << QStringLiteral("Comando sconosciuto: %1 (vedere: kestrova help)").arg(group)
               << Qt::endl;
        return kUsage;
    }
    const Group& g = groups()[group];
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        io.out << QString::fromUtf8(g.help);
        return kDone;
    }
    if (remote.server)
        return runRemote(group, args, remote, io);
    const QString folder = dataFolder(dataDir);
    // Said before SQLite says only that it cannot open or create the file.
    if (const auto closed = closedFolderProblem(folder)) {
        io.err << *closed << Qt::endl;
        return kRefused;
    }
    // Another process (the running server, a second command) may hold the
    // file for a moment: every statement, the opening checks included, waits
    // for it rather than fail at once.
    constexpr int kCommandBusyWaitMs = 5000;
    access::AccountDatabase database(accountsFile(folder), kCommandBusyWaitMs,
                                     newDatabaseValues(folder));
    if (!openAccountDatabase(database, folder)) {
        io.err << database.problem() << Qt::endl;
        return kRefused;
    }
    QSqlDatabase db = database.connection();
    CliContext c{db, folder, {}, io};
    c.args.words = args;
    return g.run(c);
}

} // namespace kv::cli
