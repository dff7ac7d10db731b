#pragma once
// A test certificate whose serial and authority key identifier are chosen,
// as the CA's renewal information names certificates by them.

#include "acme/OpenSslHandles.h"

#include <openssl/bn.h>
#include <openssl/x509v3.h>

namespace kv::acme {

// A self-signed certificate valid for 90 days from now with the given serial
// (hex) and authority key identifier, as PEM; without an identifier when
// `keyId` is empty. Its key's PEM goes to `keyPem` when given.
inline QByteArray certificateWithKeyId(const char* serialHex, const QByteArray& keyId,
                                       QByteArray* keyPem = nullptr) {
    const KeyPtr key = newP256Key();
    X509Ptr x509(X509_new());
    BIGNUM* number = nullptr;
    BN_hex2bn(&number, serialHex);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x509.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(x509.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509.get()), 90L * 24 * 60 * 60);
    X509_set_pubkey(x509.get(), key.get());
    if (!keyId.isEmpty()) {
        AUTHORITY_KEYID* aki = AUTHORITY_KEYID_new();
        aki->keyid = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(aki->keyid, reinterpret_cast<const unsigned char*>(keyId.data()),
                              int(keyId.size()));
        X509_add1_ext_i2d(x509.get(), NID_authority_key_identifier, aki, 0, 0);
        AUTHORITY_KEYID_free(aki);
    }
    X509_sign(x509.get(), key.get(), EVP_sha256());
    if (keyPem)
        *keyPem = privateKeyPem(key.get());
    BioPtr out(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(out.get(), x509.get());
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, int(n));
}

} // namespace kv::acme
