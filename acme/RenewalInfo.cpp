// The certificate's identifier from OpenSSL; the window read with Qt's JSON.
#include "acme/RenewalInfo.h"

#include "acme/OpenSslHandles.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <openssl/x509v3.h>

namespace kv::acme {

namespace {

// The serial's DER encoding without its tag and length octets.
QByteArray serialContentOctets(const ASN1_INTEGER* serial) {
    unsigned char* der = nullptr;
    const int size = i2d_ASN1_INTEGER(serial, &der);
    if (size <= 2 || !der)
        return {};
    const QByteArray encoded(reinterpret_cast<const char*>(der), size);
    OPENSSL_free(der);
    const auto lengthByte = static_cast<unsigned char>(encoded.at(1));
    const int header = lengthByte < 0x80 ? 2 : 2 + (lengthByte & 0x7f);
    return encoded.mid(header);
}

QDateTime utcTime(const QJsonObject& window, const char* key) {
    QDateTime when =
        QDateTime::fromString(window.value(QLatin1String(key)).toString(), Qt::ISODateWithMs);
    return when.isValid() ? when.toUTC() : QDateTime();
}

} // namespace

QByteArray renewalInfoCertId(const QByteArray& pem) {
    BioPtr in(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    X509Ptr certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    if (!certificate)
        return {};
    const ASN1_OCTET_STRING* keyId = X509_get0_authority_key_id(certificate.get());
    if (!keyId || ASN1_STRING_length(keyId) <= 0)
        return {};
    const QByteArray aki(reinterpret_cast<const char*>(ASN1_STRING_get0_data(keyId)),
                         ASN1_STRING_length(keyId));
    const QByteArray serial = serialContentOctets(X509_get0_serialNumber(certificate.get()));
    if (serial.isEmpty())
        return {};
    return base64Url(aki) + '.' + base64Url(serial);
}

QString renewalInfoUrl(const QString& base, const QByteArray& certId) {
    QString url = base;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url + QString::fromLatin1(certId);
}

std::optional<SuggestedWindow> parseRenewalInfo(const QByteArray& body) {
    const QJsonObject window =
        QJsonDocument::fromJson(body).object().value(QStringLiteral("suggestedWindow")).toObject();
    SuggestedWindow suggested{utcTime(window, "start"), utcTime(window, "end")};
    if (!suggested.start.isValid() || !suggested.end.isValid() || suggested.end <= suggested.start)
        return std::nullopt;
    return suggested;
}

} // namespace kv::acme
