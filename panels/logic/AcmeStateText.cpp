#include "panels/logic/AcmeStateText.h"

#include <QDateTime>
#include <QJsonArray>

namespace kv::admin {

namespace {

QString whenText(const QJsonValue& iso) {
    const QDateTime when = QDateTime::fromString(iso.toString(), Qt::ISODate);
    return when.isValid() ? when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                          : QString();
}

} // namespace

const QStringList& acmeOptions() {
    static const QStringList names = {QStringLiteral("acme"),
                                      QStringLiteral("acme_domains"),
                                      QStringLiteral("acme_email"),
                                      QStringLiteral("acme_challenge"),
                                      QStringLiteral("acme_http_port"),
                                      QStringLiteral("acme_tls_port"),
                                      QStringLiteral("acme_directory"),
                                      QStringLiteral("acme_ca_file"),
                                      QStringLiteral("acme_renew_percent")};
    return names;
}

QString acmeStateLine(const QJsonObject& acme) {
    if (!acme.value(QStringLiteral("enabled")).toBool())
        return {};
    QStringList names;
    for (const QJsonValue& name : acme.value(QStringLiteral("names")).toArray())
        names << name.toString();
    QString line =
        names.isEmpty()
            ? QStringLiteral("Certificato ACME: nessuno ancora (FTPS usa quello autofirmato)")
            : QStringLiteral("Certificato ACME per %1, emesso da %2, scade il %3")
                  .arg(names.join(QStringLiteral(", ")),
                       acme.value(QStringLiteral("issuer")).toString(),
                       whenText(acme.value(QStringLiteral("notAfter"))));
    if (acme.value(QStringLiteral("working")).toBool())
        line += QStringLiteral("; richiesta in corso");
    else if (const QString next = whenText(acme.value(QStringLiteral("nextAttempt")));
             !next.isEmpty())
        line += QStringLiteral("; prossimo tentativo il %1").arg(next);
    return line;
}

QString acmeErrorLine(const QJsonObject& acme) {
    if (!acme.value(QStringLiteral("enabled")).toBool())
        return {};
    return acme.value(QStringLiteral("lastError")).toString();
}

} // namespace kv::admin
