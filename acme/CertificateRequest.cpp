#include "acme/CertificateRequest.h"

#include "acme/OpenSslHandles.h"

#include <openssl/x509v3.h>

namespace kv::acme {

namespace {

bool addNames(X509_REQ* request, const QStringList& domains) {
    QStringList entries;
    for (const QString& domain : domains)
        entries << QStringLiteral("DNS:") + domain;
    X509_EXTENSION* names = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name,
                                                entries.join(u',').toUtf8().constData());
    if (!names)
        return false;
    STACK_OF(X509_EXTENSION)* extensions = sk_X509_EXTENSION_new_null();
    sk_X509_EXTENSION_push(extensions, names);
    const bool added = X509_REQ_add_extensions(request, extensions) == 1;
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    return added;
}

} // namespace

CertificateRequest makeCertificateRequest(const QStringList& domains) {
    CertificateRequest result;
    if (domains.isEmpty()) {
        result.error = QStringLiteral("Nessun nome di dominio per il certificato");
        return result;
    }
    KeyPtr key = newP256Key();
    X509ReqPtr request(X509_REQ_new());
    const QByteArray cn = domains.first().toUtf8().left(64);
    if (!key || !request || X509_REQ_set_version(request.get(), 0) != 1 ||
        X509_REQ_set_pubkey(request.get(), key.get()) != 1 ||
        X509_NAME_add_entry_by_txt(X509_REQ_get_subject_name(request.get()), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1,
                                   0) != 1 ||
        !addNames(request.get(), domains) ||
        X509_REQ_sign(request.get(), key.get(), EVP_sha256()) <= 0) {
        result.error = QStringLiteral("Impossibile creare la richiesta di certificato");
        return result;
    }
    const int length = i2d_X509_REQ(request.get(), nullptr);
    result.csrDer.resize(length > 0 ? length : 0);
    auto* cursor = reinterpret_cast<unsigned char*>(result.csrDer.data());
    if (length <= 0 || i2d_X509_REQ(request.get(), &cursor) != length) {
        result.csrDer.clear();
        result.error = QStringLiteral("Impossibile creare la richiesta di certificato");
        return result;
    }
    result.keyPem = privateKeyPem(key.get());
    return result;
}

} // namespace kv::acme
