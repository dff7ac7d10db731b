#pragma once
// What the CA checks to see that we control a name: the key authorization
// (the challenge's token and the account key's thumbprint), served as the
// http-01 answer, and the RFC 8737 certificate that the tls-alpn-01 answer
// presents on ALPN "acme-tls/1".

#include <QByteArray>
#include <QString>

namespace kv::acme {

// "token.thumbprint"
QByteArray keyAuthorization(const QByteArray& token, const QByteArray& thumbprint);

// The path the CA asks for over HTTP on port 80, and the body it expects.
QByteArray http01Path(const QByteArray& token);
inline QByteArray http01Body(const QByteArray& keyAuthorization) {
    return keyAuthorization;
}

struct TlsAlpnCertificate {
    QByteArray certificatePem;
    QByteArray keyPem;
    QString error; // Italian, empty on success
};

// A self-signed certificate for `domain` alone with a new P-256 key, holding
// the critical acmeIdentifier extension (1.3.6.1.5.5.7.1.31): the SHA-256 of
// the key authorization as a DER OCTET STRING.
TlsAlpnCertificate makeTlsAlpnCertificate(const QString& domain,
                                          const QByteArray& keyAuthorization);

} // namespace kv::acme
