// Naming a remote server and fingerprinting its administration certificate.
#include "adminchannel/RemoteAdmin.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>

namespace kv {

QString RemoteServerAddress::text() const {
    const bool v6 = host.contains(u':');
    return (v6 ? u'[' + host + u']' : host) + u':' + QString::number(port);
}

std::optional<RemoteServerAddress> parseRemoteServer(const QString& text, QString* error) {
    const auto refuse = [&](const QString& why) -> std::optional<RemoteServerAddress> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString trimmed = text.trimmed();
    QString host = trimmed;
    QString port;
    if (trimmed.startsWith(u'[')) {
        const qsizetype close = trimmed.indexOf(u']');
        if (close < 0)
            return refuse(QStringLiteral("Server non valido: \"%1\" (manca \"]\")").arg(text));
        host = trimmed.mid(1, close - 1);
        const QString rest = trimmed.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':'))
                return refuse(QStringLiteral("Server non valido: \"%1\"").arg(text));
            port = rest.mid(1);
        }
    } else if (trimmed.count(u':') == 1) {
        host = trimmed.section(u':', 0, 0);
        port = trimmed.section(u':', 1);
    }
    if (host.isEmpty() || host.contains(u' ') || host.contains(u'/'))
        return refuse(QStringLiteral("Server non valido: \"%1\"").arg(text));
    if (host.contains(u':') && QHostAddress(host).isNull())
        return refuse(QStringLiteral("Indirizzo IPv6 non valido: \"%1\"").arg(host));
    RemoteServerAddress address{host, kDefaultAdminPort};
    if (!port.isNull()) {
        bool ok = false;
        const uint number = port.toUInt(&ok);
        if (!ok || number < 1 || number > 65535)
            return refuse(QStringLiteral("Porta non valida: \"%1\" (serve un numero da 1 a 65535)")
                              .arg(port));
        address.port = quint16(number);
    }
    return address;
}

QString adminFingerprint(const QSslCertificate& certificate) {
    if (certificate.isNull())
        return {};
    const QByteArray spki = certificate.publicKey().toDer();
    if (spki.isEmpty())
        return {};
    QByteArray digest = QCryptographicHash::hash(spki, QCryptographicHash::Sha256).toBase64();
    while (digest.endsWith('='))
        digest.chop(1);
    return QStringLiteral("SHA256:") + QString::fromLatin1(digest);
}

QString adminFingerprintOfFile(const QString& certificatePemFile) {
    QFile file(certificatePemFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QSslCertificate> chain = QSslCertificate::fromData(file.read(1024 * 1024));
    return chain.isEmpty() ? QString() : adminFingerprint(chain.first());
}

QSslConfiguration remoteAdminClientTls() {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_3OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // the fingerprint is compared instead
    return tls;
}

} // namespace kv
