// The certificate that ACME keeps, as the command line shows and renews it.
#include "program/CliAcme.h"

#include "program/CliAdminRun.h"

#include <QDeadlineTimer>
#include <QThread>

namespace kv::cli {

namespace {

// How long `acme renew` waits for the outcome: the CA may take its time
// validating and issuing, but the command never waits for ever.
constexpr int kRenewWaitMs = 300'000;
constexpr int kPollMs = 250;

QString whenText(const QJsonValue& iso) {
    const QDateTime when = QDateTime::fromString(iso.toString(), Qt::ISODate);
    return when.isValid() ? when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                          : QString();
}

QString namesText(const QJsonObject& acme) {
    QStringList names;
    for (const QJsonValue& name : acme.value(QStringLiteral("names")).toArray())
        names << name.toString();
    return names.join(QStringLiteral(", "));
}

QString certificateText(const QJsonObject& acme) {
    const QString names = namesText(acme);
    if (names.isEmpty())
        return QStringLiteral("nessuno ancora (FTPS usa il certificato autofirmato)");
    return QStringLiteral("%1, emesso da %2, scade il %3")
        .arg(names, acme.value(QStringLiteral("issuer")).toString(),
             whenText(acme.value(QStringLiteral("notAfter"))));
}

} // namespace

void printAcmeStatus(QTextStream& out, const QJsonValue& value) {
    if (!value.isObject())
        return;
    const QJsonObject acme = value.toObject();
    out << QStringLiteral("Certificato ACME: %1\n").arg(certificateText(acme));
    if (acme.value(QStringLiteral("working")).toBool())
        out << QStringLiteral("Richiesta del certificato: in corso\n");
    else if (const QString next = whenText(acme.value(QStringLiteral("nextAttempt")));
             !next.isEmpty())
        out << QStringLiteral("Prossimo tentativo: %1\n").arg(next);
    if (const QString error = acme.value(QStringLiteral("lastError")).toString(); !error.isEmpty())
        out << QStringLiteral("Ultimo errore: %1\n").arg(error);
}

int acmeCommand(Run& r) {
    if (r.args.words != QStringList{QStringLiteral("renew")})
        return r.usage(QStringLiteral("Uso: kestrova acme renew [--json]"));
    const QJsonObject request{{QStringLiteral("op"), QStringLiteral("acme")}};
    // Counted before asking: an attempt that ends at once still counts.
    auto answer = r.ask(request);
    if (auto* code = std::get_if<int>(&answer))
        return *code;
    const auto attempts = [](const QJsonObject& acme) {
        return qint64(acme.value(QStringLiteral("attempts")).toDouble());
    };
    const qint64 before =
        attempts(std::get<QJsonObject>(answer)[QStringLiteral("acme")].toObject());
    QJsonObject renew = request;
    renew.insert(QStringLiteral("renew"), true);
    answer = r.ask(renew);
    if (auto* code = std::get_if<int>(&answer))
        return *code;
    // The attempt runs on the server's worker: asked again until it has ended.
    const QDeadlineTimer deadline(kRenewWaitMs);
    while (!deadline.hasExpired()) {
        QThread::msleep(kPollMs);
        answer = r.ask(request);
        if (auto* code = std::get_if<int>(&answer))
            return *code;
        const QJsonObject acme = std::get<QJsonObject>(answer)[QStringLiteral("acme")].toObject();
        if (attempts(acme) <= before || acme.value(QStringLiteral("working")).toBool())
            continue;
        if (r.json())
            r.printJson(acme);
        const QString error = acme.value(QStringLiteral("lastError")).toString();
        if (!error.isEmpty())
            return r.refuse(QStringLiteral("Rinnovo non riuscito: %1").arg(error));
        if (!r.json())
            r.io.out << QStringLiteral("Certificato rinnovato: %1\n").arg(certificateText(acme));
        return kDone;
    }
    return r.refuse(QStringLiteral("Il server non ha concluso il rinnovo entro %1 minuti: "
                                   "kestrova status dirà com'è andata")
                        .arg(kRenewWaitMs / 60'000));
}

} // namespace kv::cli
