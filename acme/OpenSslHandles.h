#pragma once
// Owning handles for the OpenSSL objects the ACME code makes, and the
// base64url text (no padding) that JOSE uses everywhere.

#include <QByteArray>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace kv::acme {

template <typename T, void (*Free)(T*)> struct OpenSslDeleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using X509ReqPtr = std::unique_ptr<X509_REQ, OpenSslDeleter<X509_REQ, X509_REQ_free>>;

inline QByteArray base64Url(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// A new ECDSA P-256 key, or null.
inline KeyPtr newP256Key() {
    return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

// The key as PKCS#8 PEM text, unencrypted (the file's mode protects it).
inline QByteArray privateKeyPem(EVP_PKEY* key) {
    BioPtr out(BIO_new(BIO_s_mem()));
    if (PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, n);
}

} // namespace kv::acme
