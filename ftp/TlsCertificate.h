#pragma once
// The server's own certificate: a self-signed one made for this machine when
// none is configured, and the facts about a certificate file the operator
// is shown (fingerprint, subject, validity).

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv::ftp {

struct CertificateSummary {
    QString sha256Fingerprint; // "AB:CD:..."
    QString subject;
    QDateTime notBefore;
    QDateTime notAfter;
};

struct CertificateResult {
    std::optional<CertificateSummary> summary;
    QString error; // Italian, empty on success
};

// Writes a new self-signed ECDSA P-256 / SHA-256 certificate valid ten years,
// subject CN = hostName, subjectAltName = hostName, localhost, every address
// (IP entries) and 127.0.0.1 and ::1, replacing existing files. The key file is created with mode
// 0600 before any key byte is written (written to a temporary file in the same folder, then
// renamed).
CertificateResult generateSelfSignedCertificate(const QString& certFile, const QString& keyFile,
                                                const QString& hostName,
                                                const QStringList& addresses);
// Reads the first certificate of a PEM file.
CertificateResult readCertificateSummary(const QString& certFile);
// Generates only when neither file exists; otherwise reads the existing
// certificate, even one generated without the loopback names: clients may
// trust it by its fingerprint, which a new one would break.
CertificateResult ensureSelfSignedCertificate(const QString& certFile, const QString& keyFile,
                                              const QString& hostName,
                                              const QStringList& addresses);

} // namespace kv::ftp
