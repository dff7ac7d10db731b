// status, who, kick, ban, reload, acme renew and log --follow over the administration channel.
#include "program/CliAdmin.h"

#include "program/CliAcme.h"
#include "program/CliAdminRun.h"

#include "adminchannel/AdminClient.h"
#include "adminchannel/AdminPlace.h"
#include "program/CliArguments.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>

namespace kv::cli {

namespace {

const QMap<QString, QString>& helpTexts() {
    static const QMap<QString, QString> texts = {
        {QStringLiteral("status"), QStringLiteral("kestrova status [--json]\n")},
        {QStringLiteral("who"), QStringLiteral("kestrova who [--json]   (sessioni aperte e "
                                               "trasferimenti in corso)\n")},
        {QStringLiteral("kick"), QStringLiteral("kestrova kick NUMERO   (chiude la sessione; "
                                                "il numero si legge con who)\n")},
        {QStringLiteral("ban"), QStringLiteral("kestrova ban list [--json]\n"
                                               "kestrova ban add INDIRIZZO [--minutes N]\n"
                                               "kestrova ban del INDIRIZZO\n")},
        {QStringLiteral("reload"), QStringLiteral("kestrova reload   (rilegge impostazioni e "
                                                  "opzioni, come SIGHUP)\n")},
        {QStringLiteral("log"), QStringLiteral("kestrova log --follow [--json]   (le righe del "
                                               "log man mano che il server le scrive)\n")},
        {QStringLiteral("acme"),
         QStringLiteral("kestrova acme renew [--json]   (chiede subito un nuovo certificato "
                        "ACME e ne\n"
                        "                               attende l'esito: 1 con il motivo se non "
                        "riesce)\n")},
    };
    return texts;
}

QString sizeText(qint64 bytes) {
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

int status(Run& r) {
    auto answer = r.ask({{QStringLiteral("op"), QStringLiteral("status")}});
    if (auto* code = std::get_if<int>(&answer))
        return *code;
    QJsonObject s = std::get<QJsonObject>(answer);
    s.remove(QStringLiteral("ok"));
    s.remove(QStringLiteral("v"));
    if (r.json()) {
        r.printJson(s);
        return kDone;
    }
    const bool running = s.value(QStringLiteral("running")).toBool();
    const int implicit = s.value(QStringLiteral("implicitPort")).toInt();
    r.io.out
        << QStringLiteral("Server: %1\n")
               .arg(running ? QStringLiteral("in funzione dal %1")
                                  .arg(s.value(QStringLiteral("startedAt")).toString())
                            : QStringLiteral("fermo"))
        << QStringLiteral("Indirizzo: %1 porta %2\n")
               .arg(s.value(QStringLiteral("address")).toString())
               .arg(s.value(QStringLiteral("port")).toInt())
        << QStringLiteral("TLS: %1, porta implicita: %2\n")
               .arg(s.value(QStringLiteral("tls")).toString(),
                    implicit ? QString::number(implicit) : QStringLiteral("nessuna"))
        << QStringLiteral("Sessioni aperte: %1\n").arg(s.value(QStringLiteral("sessions")).toInt())
        << QStringLiteral("Cartella dei dati: %1\n")
               .arg(s.value(QStringLiteral("dataFolder")).toString());
    if (s.contains(QStringLiteral("pid")))
        r.io.out << QStringLiteral("Processo: PID %1, utente %2\n")
                        .arg(qint64(s.value(QStringLiteral("pid")).toDouble()))
                        .arg(s.value(QStringLiteral("user")).toString());
    const int sftpPort = s.value(QStringLiteral("sftpPort")).toInt();
    r.io.out << QStringLiteral("SFTP: %1\n")
                    .arg(sftpPort ? QStringLiteral("porta %1").arg(sftpPort)
                                  : QStringLiteral("spento"));
    const QJsonObject fingerprints = s.value(QStringLiteral("sftpFingerprints")).toObject();
    for (auto it = fingerprints.begin(); it != fingerprints.end(); ++it)
        r.io.out << QStringLiteral("Chiave host SFTP %1 %2\n").arg(it.key(), it.value().toString());
    const int adminPort = s.value(QStringLiteral("adminPort")).toInt();
    r.io.out << QStringLiteral("Amministrazione remota: %1\n")
                    .arg(adminPort ? QStringLiteral("porta %1").arg(adminPort)
                                   : QStringLiteral("spenta"));
    if (const QString fingerprint = s.value(QStringLiteral("adminFingerprint")).toString();
        !fingerprint.isEmpty())
        r.io.out
            << QStringLiteral("Impronta del certificato di amministrazione: %1\n").arg(fingerprint);
    printAcmeStatus(r.io.out, s.value(QStringLiteral("acme")));
    return kDone;
}

int who(Run& r) {
    auto answer = r.ask({{QStringLiteral("op"), QStringLiteral("sessions")}});
    if (auto* code = std::get_if<int>(&answer))
        return *code;
    const QJsonArray sessions =
        std::get<QJsonObject>(answer).value(QStringLiteral("sessions")).toArray();
    if (r.json()) {
        r.printJson(sessions);
        return kDone;
    }
    CliTable table{{QStringLiteral("id"), QStringLiteral("login"), QStringLiteral("indirizzo"),
                    QStringLiteral("dal"), QStringLiteral("cartella"),
                    QStringLiteral("trasferimento")},
                   {}};
    for (const QJsonValue& value : sessions) {
        const QJsonObject s = value.toObject();
        QString transfer = QStringLiteral("-");
        const QJsonObject t = s.value(QStringLiteral("transfer")).toObject();
        if (!t.isEmpty()) {
            const qint64 size = qint64(t.value(QStringLiteral("size")).toDouble());
            transfer = QStringLiteral("%1 %2 %3%4 (%5/s)")
                           .arg(t.value(QStringLiteral("direction")).toString(),
                                t.value(QStringLiteral("path")).toString(),
                                sizeText(qint64(t.value(QStringLiteral("bytes")).toDouble())),
                                size >= 0 ? QStringLiteral(" di ") + sizeText(size) : QString(),
                                sizeText(qint64(t.value(QStringLiteral("rate")).toDouble())));
        }
        table.rows << QStringList{QString::number(qint64(s.value(QStringLiteral("id")).toDouble())),
                                  s.value(QStringLiteral("login")).toString(),
                                  s.value(QStringLiteral("address")).toString(),
                                  s.value(QStringLiteral("since")).toString(),
                                  s.value(QStringLiteral("folder")).toString(),
                                  transfer};
    }
    printTable(r.io.out, table, false);
    return kDone;
}

int kick(Run& r) {
    const QStringList& words = r.args.words;
    bool ok = false;
    const qint64 id = words.value(0).toLongLong(&ok);
    if (words.size() != 1 || !ok || id <= 0)
        return r.usage(
            QStringLiteral("kestrova kick vuole il numero di una sessione (vedere: kestrova who)"));
    auto answer =
        r.ask({{QStringLiteral("op"), QStringLiteral("kick")}, {QStringLiteral("id"), id}});
    if (auto* code = std::get_if<int>(&answer))
        return *code;
    r.io.out << QStringLiteral("Sessione %1 disconnessa").arg(id) << Qt::endl;
    return kDone;
}

int banList(Run& r) {
    auto answer = r.ask({{QStringLiteral("op"), QStringLiteral("bans")}});
    if (auto* code = std::get_if<int>(&answer))
        return *code;
    const QJsonArray bans = std::get<QJsonObject>(answer).value(QStringLiteral("bans")).toArray();
    if (r.json()) {
        r.printJson(bans);
        return kDone;
    }
    CliTable table{
        {QStringLiteral("indirizzo"), QStringLiteral("tentativi"), QStringLiteral("fino a")}, {}};
    for (const QJsonValue& value : bans) {
        const QJsonObject b = value.toObject();
        table.rows << QStringList{b.value(QStringLiteral("address")).toString(),
                                  QString::number(b.value(QStringLiteral("attempts")).toInt()),
                                  b.value(QStringLiteral("until")).toString()};
    }
    printTable(r.io.out, table, false);
    return kDone;
}

int ban(Run& r) {
    const QStringList& words = r.args.words;
    const QString action = words.value(0);
    if (action == QLatin1String("list") && words.size() == 1)
        return banList(r);
    if (action == QLatin1String("add") && words.size() == 2) {
        QJsonObject request{{QStringLiteral("op"), QStringLiteral("ban")},
                            {QStringLiteral("address"), words[1]}};
        if (r.args.values.contains(QStringLiteral("minutes"))) {
            bool ok = false;
            const qint64 minutes = r.args.value(QStringLiteral("minutes")).toLongLong(&ok);
            if (!ok || minutes <= 0)
                return r.usage(QStringLiteral("--minutes vuole un numero intero di minuti"));
            request.insert(QStringLiteral("minutes"), minutes);
        }
        auto answer = r.ask(request);
        if (auto* code = std::get_if<int>(&answer))
            return *code;
        const QJsonObject a = std::get<QJsonObject>(answer);
        r.io.out << QStringLiteral("Indirizzo %1 bloccato per %2 minuti")
                        .arg(a.value(QStringLiteral("address")).toString())
                        .arg(qint64(a.value(QStringLiteral("minutes")).toDouble()))
                 << Qt::endl;
        return kDone;
    }
    if (action == QLatin1String("del") && words.size() == 2) {
        auto answer = r.ask({{QStringLiteral("op"), QStringLiteral("unban")},
                             {QStringLiteral("address"), words[1]}});
        if (auto* code = std::get_if<int>(&answer))
            return *code;
        r.io.out
            << QStringLiteral("Blocco di %1 tolto")
                   .arg(std::get<QJsonObject>(answer).value(QStringLiteral("address")).toString())
            << Qt::endl;
        return kDone;
    }
    return r.usage(QStringLiteral("Uso: ") + helpTexts().value(QStringLiteral("ban")).trimmed());
}

int reload(Run& r) {
    if (!r.args.words.isEmpty())
        return r.usage(QStringLiteral("kestrova reload non vuole argomenti"));
    auto answer = r.ask({{QStringLiteral("op"), QStringLiteral("reload")}});
    if (auto* code = std::get_if<int>(&answer))
        return *code;
    const QJsonObject a = std::get<QJsonObject>(answer);
    if (!a.value(QStringLiteral("applied")).toBool())
        return r.refuse(QStringLiteral("Impostazioni non ricaricate: %1")
                            .arg(a.value(QStringLiteral("reason")).toString()));
    r.io.out << QStringLiteral("Impostazioni ricaricate") << Qt::endl;
    return kDone;
}

int log(Run& r) {
    if (!r.args.has(QStringLiteral("follow")) || !r.args.words.isEmpty())
        return r.usage(QStringLiteral("Uso: kestrova log --follow [--json]"));
    auto answer = r.ask({{QStringLiteral("op"), QStringLiteral("follow")}});
    if (auto* code = std::get_if<int>(&answer))
        return *code;
    while (const auto message = r.client().next()) {
        if (r.json()) {
            r.io.out << QJsonDocument(*message).toJson(QJsonDocument::Compact) << Qt::endl;
        } else if (message->value(QStringLiteral("event")).toString() == QLatin1String("log")) {
            r.io.out << message->value(QStringLiteral("line")).toString() << Qt::endl;
        } else if (message->contains(QStringLiteral("error"))) {
            return r.refuse(message->value(QStringLiteral("error")).toString());
        }
    }
    r.io.err << QStringLiteral("Il server ha chiuso il canale di amministrazione") << Qt::endl;
    return kDone;
}

} // namespace

bool isAdminCommand(const QString& word) {
    return helpTexts().contains(word);
}

QString adminHelp(const QString& word) {
    return helpTexts().value(word);
}

QString allAdminHelp() {
    QString text =
        QStringLiteral("Comandi per il server in funzione (3: nessun server sulla cartella):\n");
    for (const QString& help : helpTexts())
        text += help;
    return text;
}

int runAdminCommand(const QString& command, const QStringList& args, const QString& dataFolder,
                    CliIo& io, AdminClient* remote) {
    Run r{dataFolder,
          io,
          readArguments(args, {QStringLiteral("minutes")},
                        {QStringLiteral("json"), QStringLiteral("follow")}),
          {},
          remote};
    if (!r.args.error.isEmpty())
        return r.usage(r.args.error);
    if (command == QLatin1String("status") || command == QLatin1String("who")) {
        if (!r.args.words.isEmpty())
            return r.usage(QStringLiteral("kestrova %1 non vuole argomenti").arg(command));
        return command == QLatin1String("status") ? status(r) : who(r);
    }
    if (command == QLatin1String("kick"))
        return kick(r);
    if (command == QLatin1String("ban"))
        return ban(r);
    if (command == QLatin1String("reload"))
        return reload(r);
    if (command == QLatin1String("acme"))
        return acmeCommand(r);
    return log(r);
}

} // namespace kv::cli
