#include "acme/Jws.h"

#include "acme/OpenSslHandles.h"

#include <QJsonDocument>

namespace kv::acme {

QByteArray signedRequest(const AccountKey& key, const QString& url, const QByteArray& nonce,
                         const QByteArray& payload, const QString& accountUrl) {
    QJsonObject header{{QStringLiteral("alg"), QStringLiteral("ES256")},
                       {QStringLiteral("nonce"), QString::fromLatin1(nonce)},
                       {QStringLiteral("url"), url}};
    if (accountUrl.isEmpty())
        header.insert(QStringLiteral("jwk"), key.jwk());
    else
        header.insert(QStringLiteral("kid"), accountUrl);
    const QByteArray protectedPart =
        base64Url(QJsonDocument(header).toJson(QJsonDocument::Compact));
    const QByteArray payloadPart = base64Url(payload);
    const QByteArray signature = key.sign(protectedPart + '.' + payloadPart);
    if (signature.isEmpty())
        return {};
    const QJsonObject jws{{QStringLiteral("protected"), QString::fromLatin1(protectedPart)},
                          {QStringLiteral("payload"), QString::fromLatin1(payloadPart)},
                          {QStringLiteral("signature"), QString::fromLatin1(base64Url(signature))}};
    return QJsonDocument(jws).toJson(QJsonDocument::Compact);
}

} // namespace kv::acme
