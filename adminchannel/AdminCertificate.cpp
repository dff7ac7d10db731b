// Making and reading the administration certificate.
#include "adminchannel/AdminCertificate.h"

#include "adminchannel/RemoteAdmin.h"
#include "ftp/TlsCertificate.h"

#include <QFile>
#include <QFileInfo>
#include <QHostInfo>

namespace kv {

QString adminCertificateFile(const QString& dataFolder) {
    return dataFolder + QStringLiteral("/admin-cert.pem");
}

QString adminKeyFile(const QString& dataFolder) {
    return dataFolder + QStringLiteral("/admin-key.pem");
}

AdminCertificate ensureAdminCertificate(const QString& dataFolder) {
    const QString certFile = adminCertificateFile(dataFolder);
    const QString keyFile = adminKeyFile(dataFolder);
    AdminCertificate result;
    if (!QFileInfo::exists(certFile) && !QFileInfo::exists(keyFile)) {
        const ftp::CertificateResult made =
            ftp::generateSelfSignedCertificate(certFile, keyFile, QHostInfo::localHostName(), {});
        if (!made.summary) {
            result.error =
                QStringLiteral("Certificato di amministrazione non creato: %1").arg(made.error);
            return result;
        }
        // The key is private from the start; the certificate only says who
        // the server is, but the administration's files stay the owner's.
        QFile::setPermissions(certFile, QFile::ReadOwner | QFile::WriteOwner);
    }
    QFile cert(certFile);
    QFile key(keyFile);
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("Certificato di amministrazione non leggibile: %1 o %2")
                           .arg(certFile, keyFile);
        return result;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(cert.read(1024 * 1024));
    result.key = QSslKey(key.read(1024 * 1024), QSsl::Ec);
    if (chain.isEmpty() || result.key.isNull()) {
        result.error = QStringLiteral("Certificato di amministrazione non valido: %1 o %2")
                           .arg(certFile, keyFile);
        return result;
    }
    result.certificate = chain.first();
    result.fingerprint = adminFingerprint(result.certificate);
    return result;
}

} // namespace kv
