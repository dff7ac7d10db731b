#pragma once
// The certificate of remote administration: admin-cert.pem and admin-key.pem
// in the data folder, its own and never the FTPS one, so renewing or
// replacing that one never changes the fingerprint administrators trust.
// Made on first use (ECDSA P-256, ten years), both files mode 0600.

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

namespace kv {

struct AdminCertificate {
    QSslCertificate certificate;
    QSslKey key;
    QString fingerprint; // "SHA256:..."
    QString error;       // Italian; empty when certificate and key were read
    bool ok() const { return error.isEmpty(); }
};

QString adminCertificateFile(const QString& dataFolder);
QString adminKeyFile(const QString& dataFolder);

// Reads the pair, making it first when neither file exists.
AdminCertificate ensureAdminCertificate(const QString& dataFolder);

} // namespace kv
