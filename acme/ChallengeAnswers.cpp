#include "acme/ChallengeAnswers.h"

#include "acme/OpenSslHandles.h"

#include <QCryptographicHash>

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

namespace kv::acme {

namespace {

constexpr const char* kAcmeIdentifierOid = "1.3.6.1.5.5.7.1.31";
constexpr long kValidSeconds = 7 * 24 * 3600; // the CA looks at it within minutes

QByteArray certificatePem(X509* cert) {
    BioPtr out(BIO_new(BIO_s_mem()));
    if (PEM_write_bio_X509(out.get(), cert) != 1)
        return {};
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, n);
}

bool addAlternativeName(X509* cert, const QString& domain) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    const QByteArray value = "DNS:" + domain.toUtf8();
    X509_EXTENSION* extension =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, value.constData());
    if (!extension)
        return false;
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// extnValue holds the DER of an OCTET STRING that holds the digest.
bool addAcmeIdentifier(X509* cert, const QByteArray& keyAuthorization) {
    const QByteArray digest =
        QCryptographicHash::hash(keyAuthorization, QCryptographicHash::Sha256);
    const QByteArray der = QByteArray("\x04\x20", 2) + digest;
    ASN1_OBJECT* oid = OBJ_txt2obj(kAcmeIdentifierOid, 1);
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    bool added = false;
    if (oid && value &&
        ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>(der.constData()),
                              int(der.size())) == 1) {
        X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, oid, 1, value);
        added = extension && X509_add_ext(cert, extension, -1) == 1;
        X509_EXTENSION_free(extension);
    }
    ASN1_OCTET_STRING_free(value);
    ASN1_OBJECT_free(oid);
    return added;
}

} // namespace

QByteArray keyAuthorization(const QByteArray& token, const QByteArray& thumbprint) {
    return token + '.' + thumbprint;
}

QByteArray http01Path(const QByteArray& token) {
    return "/.well-known/acme-challenge/" + token;
}

TlsAlpnCertificate makeTlsAlpnCertificate(const QString& domain,
                                          const QByteArray& keyAuthorization) {
    TlsAlpnCertificate result;
    KeyPtr key = newP256Key();
    X509Ptr cert(X509_new());
    if (!key || !cert) {
        result.error = QStringLiteral("Impossibile creare il certificato per tls-alpn-01");
        return result;
    }
    X509_set_version(cert.get(), 2);
    BIGNUM* serial = BN_new();
    BN_rand(serial, 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert.get()));
    BN_free(serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -300);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValidSeconds);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    const QByteArray cn = domain.toUtf8().left(64);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (!addAlternativeName(cert.get(), domain) ||
        !addAcmeIdentifier(cert.get(), keyAuthorization) ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) {
        result.error = QStringLiteral("Impossibile creare il certificato per tls-alpn-01");
        return result;
    }
    result.certificatePem = certificatePem(cert.get());
    result.keyPem = privateKeyPem(key.get());
    return result;
}

} // namespace kv::acme
