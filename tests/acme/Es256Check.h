#pragma once
// Checks an ES256 signature the way a CA does: with the public key rebuilt
// from the JWK alone.

#include <QByteArray>
#include <QJsonObject>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

inline QByteArray fromBase64Url(const QString& text) {
    return QByteArray::fromBase64(text.toLatin1(),
                                  QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

inline bool es256Verifies(const QJsonObject& jwk, const QByteArray& input,
                          const QByteArray& rawSignature) {
    const QByteArray x = fromBase64Url(jwk.value(QStringLiteral("x")).toString());
    const QByteArray y = fromBase64Url(jwk.value(QStringLiteral("y")).toString());
    if (x.size() != 32 || y.size() != 32 || rawSignature.size() != 64)
        return false;
    QByteArray point = QByteArray(1, '\x04') + x + y;
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME,
                                                            const_cast<char*>("prime256v1"), 0),
                           OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                                             size_t(point.size())),
                           OSSL_PARAM_construct_end()};
    EVP_PKEY_CTX* fromData = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(fromData);
    EVP_PKEY_fromdata(fromData, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(fromData);
    if (!key)
        return false;
    const auto* raw = reinterpret_cast<const unsigned char*>(rawSignature.constData());
    ECDSA_SIG* signature = ECDSA_SIG_new();
    ECDSA_SIG_set0(signature, BN_bin2bn(raw, 32, nullptr), BN_bin2bn(raw + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(signature, &der);
    ECDSA_SIG_free(signature);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool ok = derLength > 0 &&
                    EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestVerify(context, der, size_t(derLength),
                                     reinterpret_cast<const unsigned char*>(input.constData()),
                                     size_t(input.size())) == 1;
    EVP_MD_CTX_free(context);
    OPENSSL_free(der);
    EVP_PKEY_free(key);
    return ok;
}
