#include "program/MachineCertificate.h"

#include "ftp/TlsCertificate.h"

#include <QHostInfo>
#include <QLocale>
#include <QNetworkInterface>

namespace kv {

namespace {

QStringList machineAddresses() {
    QStringList addresses;
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (a.isLinkLocal())
            continue; // scoped addresses are no use in a certificate
        addresses << a.toString();
    }
    return addresses;
}

QString describe(const QString& certificateFile) {
    const ftp::CertificateResult read = ftp::readCertificateSummary(certificateFile);
    if (!read.summary)
        return read.error;
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    return QStringLiteral("SHA-256 %1 — %2 — valido fino al %3")
        .arg(read.summary->sha256Fingerprint, read.summary->subject,
             italian.toString(read.summary->notAfter.toLocalTime().date(), QLocale::LongFormat));
}

} // namespace

CertificateTools machineCertificateTools() {
    CertificateTools tools;
    tools.prepare = [](const ftp::TlsSettings& tls) {
        return ftp::ensureSelfSignedCertificate(tls.certificateFile, tls.privateKeyFile,
                                                QHostInfo::localHostName(), machineAddresses())
            .error;
    };
    tools.describe = &describe;
    tools.generate = [](const QString& certificateFile, const QString& keyFile) {
        return ftp::generateSelfSignedCertificate(certificateFile, keyFile,
                                                  QHostInfo::localHostName(), machineAddresses())
            .error;
    };
    return tools;
}

} // namespace kv
