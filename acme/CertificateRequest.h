#pragma once
// The request the order is finalized with: a new P-256 key, never the
// account's, and a CSR naming every domain in its subjectAltName.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kv::acme {

struct CertificateRequest {
    QByteArray csrDer; // sent base64url in the finalize request
    QByteArray keyPem; // kept with the certificate the CA issues
    QString error;     // Italian, empty on success
};

// The subject's CN is the first domain (some clients still show it).
CertificateRequest makeCertificateRequest(const QStringList& domains);

} // namespace kv::acme
