// Reaching a remote server from the command line: its options, the trust in
// its fingerprint and the administration password.
#include "program/CliRemote.h"

#include "adminchannel/AdminClient.h"
#include "adminchannel/KnownServers.h"
#include "adminchannel/ServerTrust.h"
#include "program/CliAdmin.h"

#include <QFile>

namespace kv::cli {

namespace {

const QString kRemote = QStringLiteral("remote");
const QString kTrust = QStringLiteral("trust");
const QString kPasswordFile = QStringLiteral("admin-password-file");

// Where the operator reads the fingerprint on the server.
QString whereToRead() {
    return QStringLiteral("sul server si legge con \"kestrova admin fingerprint\" o nel pannello "
                          "Impostazioni, gruppo \"Amministrazione remota\"");
}

int fail(CliIo& io, AdminClient& client, const QString& message, int code = kRefused) {
    client.abandon();
    io.err << message << Qt::endl;
    return code;
}

std::optional<QString> readPasswordFile(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Impossibile leggere la password di amministrazione da %1: %2")
                    .arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// The password: --admin-password-file, KESTROVA_ADMIN_PASSWORD, or asked on a terminal.
std::optional<QString> adminPassword(const RemoteOptions& options, CliIo& io, QString& error) {
    const QString prompt =
        QStringLiteral("Password di amministrazione di %1: ").arg(options.server->text());
    if (options.passwordFile && *options.passwordFile != QLatin1String("-"))
        return readPasswordFile(*options.passwordFile, error);
    if (options.passwordFile ||
        (!qEnvironmentVariableIsSet("KESTROVA_ADMIN_PASSWORD") && io.terminal)) {
        auto password = io.readPassword(prompt);
        if (!password)
            error =
                QStringLiteral("Nessuna password di amministrazione letta dallo standard input");
        return password;
    }
    if (qEnvironmentVariableIsSet("KESTROVA_ADMIN_PASSWORD"))
        return qEnvironmentVariable("KESTROVA_ADMIN_PASSWORD");
    error = QStringLiteral("Manca la password di amministrazione di %1: darla con "
                           "KESTROVA_ADMIN_PASSWORD o --admin-password-file FILE (- per lo "
                           "standard input), o eseguire il comando da un terminale")
                .arg(options.server->text());
    return std::nullopt;
}

// Whether the operator, asked on the terminal, trusts the fingerprint.
bool operatorTrusts(CliIo& io, const QString& server, const QString& fingerprint) {
    io.err << QStringLiteral("Il server %1 non è tra i server fidati. L'impronta del suo "
                             "certificato di amministrazione è\n  %2\nConfrontarla con quella "
                             "vera: %3.")
                  .arg(server, fingerprint, whereToRead())
           << Qt::endl;
    const auto answer = io.readText(QStringLiteral("Fidarsi di questo server? [s/N] "));
    const QString word = answer.value_or(QString()).trimmed().toLower();
    return word == QLatin1String("s") || word == QLatin1String("si") ||
           word == QStringLiteral("sì");
}

// Nullopt when the fingerprint is trusted (remembering it when newly so),
// else the exit status after saying why.
std::optional<int> judgeFingerprint(AdminClient& client, const RemoteOptions& options,
                                    KnownServers& known, CliIo& io) {
    const RemoteServerAddress& server = *options.server;
    const QString presented = client.fingerprint();
    const TrustJudgement judged =
        judgeServerTrust(known.fingerprintFor(server), presented, options.trust);
    switch (judged.verdict) {
    case TrustVerdict::Known:
        return std::nullopt;
    case TrustVerdict::Mismatch:
        return fail(
            io, client,
            QStringLiteral(
                "ATTENZIONE: il server %1 non presenta il certificato di amministrazione atteso; "
                "nulla è stato inviato.\n  impronta attesa:     %2\n  impronta presentata: %3\n"
                "Se il certificato del server è stato rifatto, controllare la nuova impronta (%4) "
                "e, se è la stessa, ripetere il comando con --trust %3, che la ricorda al posto "
                "della vecchia in %5. Altrimenti qualcuno si sta spacciando per il server.")
                .arg(server.text(), judged.expected, presented, whereToRead(),
                     KnownServers::defaultPath()),
            kFingerprintMismatch);
    case TrustVerdict::Unknown:
        if (!io.terminal)
            return fail(
                io, client,
                QStringLiteral("Il server %1 non è tra i server fidati e senza un terminale "
                               "non si può chiedere se fidarsi; nulla è stato inviato. "
                               "L'impronta presentata è %2: confrontarla con quella vera "
                               "(%3) e, se è la stessa, ripetere il comando con --trust %2")
                    .arg(server.text(), presented, whereToRead()));
        if (!operatorTrusts(io, server.text(), presented))
            return fail(io, client,
                        QStringLiteral("Server non ritenuto fidato: nulla è stato inviato"));
        break;
    case TrustVerdict::Named:
        break;
    }
    if (const auto problem = known.remember(server, presented))
        io.err << *problem << Qt::endl;
    else
        io.err << QStringLiteral("Server %1 aggiunto ai server fidati (%2)")
                      .arg(server.text(), KnownServers::defaultPath())
               << Qt::endl;
    return std::nullopt;
}

} // namespace

RemoteOptions takeRemoteOptions(QStringList& args) {
    RemoteOptions options;
    QString remote;
    bool remoteGiven = false;
    for (qsizetype i = 0; i < args.size() && args[i] != QLatin1String("--"); ++i) {
        const QString& arg = args[i];
        QString name = arg.mid(2).section(u'=', 0, 0);
        if (!arg.startsWith(QLatin1String("--")) ||
            (name != kRemote && name != kTrust && name != kPasswordFile))
            continue;
        QString value;
        if (arg.contains(u'=')) {
            value = arg.section(u'=', 1);
        } else if (i + 1 < args.size()) {
            value = args.takeAt(i + 1);
        } else {
            options.error = QStringLiteral("L'opzione --%1 vuole un valore").arg(name);
            return options;
        }
        args.removeAt(i--);
        if (name == kRemote) {
            remote = value;
            remoteGiven = true;
        } else if (name == kTrust) {
            options.trust = value;
        } else {
            options.passwordFile = value;
        }
    }
    if (remoteGiven) {
        options.server = parseRemoteServer(remote, &options.error);
    } else if (!options.trust.isEmpty() || options.passwordFile) {
        options.error = QStringLiteral("--trust e --admin-password-file valgono solo con --remote "
                                       "HOST[:PORTA]");
    }
    return options;
}

std::optional<int> connectRemote(AdminClient& client, const RemoteOptions& options,
                                 KnownServers& known, CliIo& io) {
    if (client.handshake(*options.server) != AdminClient::Remote::Connected) {
        io.err << client.error() << Qt::endl;
        return kNoServer;
    }
    if (const auto refused = judgeFingerprint(client, options, known, io))
        return refused;
    QString error;
    const auto password = adminPassword(options, io, error);
    if (!password)
        return fail(io, client, error);
    if (client.login(*password) != AdminClient::Remote::Connected)
        return fail(io, client,
                    QStringLiteral("Accesso a %1 non riuscito: %2")
                        .arg(options.server->text(), client.error()));
    return std::nullopt;
}

} // namespace kv::cli
