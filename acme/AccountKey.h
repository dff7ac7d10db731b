#pragma once
// The ACME account's ES256 key (ECDSA P-256 with SHA-256): its public half
// as a JWK and the RFC 7638 thumbprint, and raw R||S signatures for JWS. The
// key lives in a PEM file of mode 0600, made once and reused, so the CA
// keeps knowing the account.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <memory>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

namespace kv::acme {

class AccountKey {
public:
    static std::optional<AccountKey> generate();
    static std::optional<AccountKey> fromPem(const QByteArray& pem);

    // {"crv":"P-256","kty":"EC","x":…,"y":…}
    QJsonObject jwk() const;
    // base64url SHA-256 of the JWK's required members, as the key
    // authorization of every challenge names the account.
    QByteArray thumbprint() const;
    // The JWS signature of `signingInput`: R and S, 32 bytes each; empty
    // when OpenSSL fails.
    QByteArray sign(const QByteArray& signingInput) const;
    QByteArray pem() const;
    EVP_PKEY* handle() const { return key_.get(); }

private:
    explicit AccountKey(std::shared_ptr<EVP_PKEY> key) : key_(std::move(key)) {}
    std::shared_ptr<EVP_PKEY> key_;
};

struct AccountKeyResult {
    std::optional<AccountKey> key;
    bool created = false;
    QString error; // Italian, empty on success
};

// Reads the key in `path`, or makes one there (mode 0600 from its first
// byte) when the file does not exist. A file that exists but holds no
// usable key is an error and is left as it is.
AccountKeyResult loadOrCreateAccountKey(const QString& path);

// RFC 7638: SHA-256 of the members in lexicographic order without
// whitespace, base64url.
QByteArray jwkThumbprint(const QJsonObject& requiredMembers);

} // namespace kv::acme
