#include "net/TrustedCertificates.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace kv::net {

std::optional<QByteArray> systemAndExtraCertificates(const QString& option,
                                                     const QString& extraFile, QString* error) {
    QFile extra(extraFile);
    if (!extra.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Opzione %1: il file %2 non è leggibile (%3)")
                     .arg(option, extraFile, extra.errorString());
        return std::nullopt;
    }
    const QByteArray added = extra.readAll();
    if (!added.contains("-----BEGIN CERTIFICATE-----")) {
        *error = QStringLiteral("Opzione %1: il file %2 non contiene certificati PEM")
                     .arg(option, extraFile);
        return std::nullopt;
    }
    QByteArray pem;
    for (const QSslCertificate& certificate : QSslConfiguration::systemCaCertificates())
        pem += certificate.toPem();
    return pem + "\n" + added;
}

} // namespace kv::net
