#include "net/TrustedCertificates.h"

#include <QFile>

namespace kv::net {

namespace {

// The system's bundle as one file, read as it is: parsing the hundreds of
// certificates (as Qt's system list does) takes a tenth of a second and more,
// and this runs on the event loop; libcurl parses them on its own thread.
QByteArray systemBundle() {
    for (const char* path : {"/etc/ssl/certs/ca-certificates.crt",
                             "/etc/pki/tls/certs/ca-bundle.crt", "/etc/ssl/cert.pem"}) {
        if (QFile file(QString::fromLatin1(path)); file.open(QIODevice::ReadOnly))
            return file.readAll();
    }
    return {};
}

} // namespace

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
    return systemBundle() + "\n" + added;
}

} // namespace kv::net
