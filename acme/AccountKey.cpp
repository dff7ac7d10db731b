#include "acme/AccountKey.h"

#include "acme/OpenSslHandles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>

namespace kv::acme {

namespace {

constexpr int kCoordinateBytes = 32; // P-256

QByteArray coordinate(EVP_PKEY* key, const char* name) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &value) != 1)
        return {};
    QByteArray bytes(kCoordinateBytes, '\0');
    const int written =
        BN_bn2binpad(value, reinterpret_cast<unsigned char*>(bytes.data()), kCoordinateBytes);
    BN_free(value);
    return written == kCoordinateBytes ? bytes : QByteArray();
}

bool isP256(EVP_PKEY* key) {
    char group[64] = {};
    return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                          nullptr) == 1 &&
           QByteArray(group) == "prime256v1";
}

std::shared_ptr<EVP_PKEY> share(KeyPtr key) {
    return std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
}

} // namespace

std::optional<AccountKey> AccountKey::generate() {
    KeyPtr key = newP256Key();
    if (!key)
        return std::nullopt;
    return AccountKey(share(std::move(key)));
}

std::optional<AccountKey> AccountKey::fromPem(const QByteArray& pem) {
    BioPtr in(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    KeyPtr key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    if (!key || !isP256(key.get()))
        return std::nullopt;
    return AccountKey(share(std::move(key)));
}

QJsonObject AccountKey::jwk() const {
    return QJsonObject{
        {QStringLiteral("crv"), QStringLiteral("P-256")},
        {QStringLiteral("kty"), QStringLiteral("EC")},
        {QStringLiteral("x"),
         QString::fromLatin1(base64Url(coordinate(key_.get(), OSSL_PKEY_PARAM_EC_PUB_X)))},
        {QStringLiteral("y"),
         QString::fromLatin1(base64Url(coordinate(key_.get(), OSSL_PKEY_PARAM_EC_PUB_Y)))},
    };
}

QByteArray AccountKey::thumbprint() const {
    return jwkThumbprint(jwk());
}

QByteArray AccountKey::sign(const QByteArray& signingInput) const {
    std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX, EVP_MD_CTX_free>> context(
        EVP_MD_CTX_new());
    size_t length = 0;
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length,
                       reinterpret_cast<const unsigned char*>(signingInput.constData()),
                       size_t(signingInput.size())) != 1)
        return {};
    QByteArray der(qsizetype(length), '\0');
    auto* derBytes = reinterpret_cast<unsigned char*>(der.data());
    if (EVP_DigestSign(context.get(), derBytes, &length,
                       reinterpret_cast<const unsigned char*>(signingInput.constData()),
                       size_t(signingInput.size())) != 1)
        return {};
    // OpenSSL writes the DER SEQUENCE of R and S; JWS wants them side by side.
    const unsigned char* cursor = derBytes;
    std::unique_ptr<ECDSA_SIG, OpenSslDeleter<ECDSA_SIG, ECDSA_SIG_free>> signature(
        d2i_ECDSA_SIG(nullptr, &cursor, long(length)));
    if (!signature)
        return {};
    QByteArray raw(2 * kCoordinateBytes, '\0');
    auto* rawBytes = reinterpret_cast<unsigned char*>(raw.data());
    if (BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), rawBytes, kCoordinateBytes) !=
            kCoordinateBytes ||
        BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), rawBytes + kCoordinateBytes,
                     kCoordinateBytes) != kCoordinateBytes)
        return {};
    return raw;
}

QByteArray AccountKey::pem() const {
    return privateKeyPem(key_.get());
}

QByteArray jwkThumbprint(const QJsonObject& requiredMembers) {
    // QJsonObject keeps its keys sorted, and the compact form has no spaces.
    const QByteArray canonical = QJsonDocument(requiredMembers).toJson(QJsonDocument::Compact);
    return base64Url(QCryptographicHash::hash(canonical, QCryptographicHash::Sha256));
}

AccountKeyResult loadOrCreateAccountKey(const QString& path) {
    AccountKeyResult result;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            result.error = QStringLiteral("La chiave dell'account ACME %1 non è leggibile (%2)")
                               .arg(path, file.errorString());
            return result;
        }
        result.key = AccountKey::fromPem(file.readAll());
        if (!result.key)
            result.error =
                QStringLiteral("Il file %1 non contiene una chiave ECDSA P-256: spostarlo o "
                               "cancellarlo perché ne venga creata una nuova")
                    .arg(path);
        return result;
    }
    result.key = AccountKey::generate();
    const QByteArray pem = result.key ? result.key->pem() : QByteArray();
    if (pem.isEmpty()) {
        result.key.reset();
        result.error = QStringLiteral("Impossibile creare la chiave dell'account ACME");
        return result;
    }
    // Private from its first byte, and complete before it takes the real name.
    const QString partial = path + QStringLiteral(".new");
    QFile::remove(partial);
    QFile out(partial);
    const bool written = out.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                         out.write(pem) == pem.size() && out.flush();
    out.close();
    if (!written || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        result.key.reset();
        result.error = QStringLiteral("Impossibile scrivere la chiave dell'account ACME in %1 (%2)")
                           .arg(path, out.errorString());
        return result;
    }
    result.created = true;
    return result;
}

} // namespace kv::acme
