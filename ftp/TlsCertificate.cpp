// Making the self-signed certificate (key first, private from its first
// byte) and reading a certificate's summary, with OpenSSL.
#include "ftp/TlsCertificate.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTemporaryFile>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace kv::ftp {

namespace {

constexpr long kValidDays = 3653;      // ten years, leap days included
constexpr long kBackdateSeconds = 300; // clocks of clients a little behind

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

QDateTime toDateTime(const ASN1_TIME* t) {
    struct tm tm {};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1)
        return {};
    return QDateTime(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
                     QTime(tm.tm_hour, tm.tm_min, tm.tm_sec), Qt::UTC);
}

CertificateSummary summarize(X509* cert) {
    CertificateSummary s;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) == 1) {
        QStringList hex;
        for (unsigned int i = 0; i < length; ++i)
            hex << QStringLiteral("%1").arg(digest[i], 2, 16, QLatin1Char('0')).toUpper();
        s.sha256Fingerprint = hex.join(u':');
    }
    BioPtr out(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(out.get(), X509_get_subject_name(cert), 0, XN_FLAG_RFC2253);
    char* text = nullptr;
    const long n = BIO_get_mem_data(out.get(), &text);
    s.subject = QString::fromUtf8(text, n);
    s.notBefore = toDateTime(X509_get0_notBefore(cert));
    s.notAfter = toDateTime(X509_get0_notAfter(cert));
    return s;
}

QByteArray pemOf(int (*write)(BIO*, void*), void* object) {
    BioPtr out(BIO_new(BIO_s_mem()));
    if (write(out.get(), object) != 1)
        return {};
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, n);
}

int writeKey(BIO* b, void* key) {
    return PEM_write_bio_PrivateKey(b, static_cast<EVP_PKEY*>(key), nullptr, nullptr, 0, nullptr,
                                    nullptr);
}
int writeCert(BIO* b, void* cert) {
    return PEM_write_bio_X509(b, static_cast<X509*>(cert));
}

bool addExtension(X509* cert, int nid, const QString& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.toUtf8().constData());
    if (!ext)
        return false;
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

// "DNS:host,DNS:localhost,IP:a,IP:b,IP:127.0.0.1,IP:::1": addresses that are
// not addresses are left out. The loopback names are always there, so a
// client on this PC that trusts the certificate can connect to localhost.
QString alternativeNames(const QString& hostName, const QStringList& addresses) {
    QStringList names{QStringLiteral("DNS:%1").arg(hostName), QStringLiteral("DNS:localhost")};
    for (const QString& a :
         addresses + QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("::1")}) {
        QHostAddress address;
        if (address.setAddress(a.section(u'%', 0, 0)))
            names << QStringLiteral("IP:%1").arg(address.toString().section(u'%', 0, 0));
    }
    names.removeDuplicates();
    return names.join(u',');
}

std::optional<QString> makeCertificate(X509* cert, EVP_PKEY* key, const QString& hostName,
                                       const QStringList& addresses) {
    X509_set_version(cert, 2);
    BIGNUM* serial = BN_new();
    BN_rand(serial, 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert));
    BN_free(serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -kBackdateSeconds);
    X509_time_adj_ex(X509_getm_notAfter(cert), int(kValidDays), 0, nullptr);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    const QByteArray cn = hostName.toUtf8().left(64);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    // Its own trust anchor: clients import it as the certificate to trust.
    const bool extended =
        addExtension(cert, NID_basic_constraints, QStringLiteral("critical,CA:TRUE")) &&
        addExtension(cert, NID_key_usage,
                     QStringLiteral("critical,digitalSignature,keyCertSign")) &&
        addExtension(cert, NID_ext_key_usage, QStringLiteral("serverAuth")) &&
        addExtension(cert, NID_subject_key_identifier, QStringLiteral("hash")) &&
        addExtension(cert, NID_subject_alt_name, alternativeNames(hostName, addresses));
    if (!extended || X509_sign(cert, key, EVP_sha256()) <= 0)
        return QStringLiteral("impossibile creare il certificato");
    return std::nullopt;
}

// A private temporary file next to `target` holding `bytes`; its name, or
// the reason it could not be written.
std::optional<QString> writeTemporary(const QString& target, const QByteArray& bytes,
                                      QString& tempName) {
    // QTemporaryFile creates the file readable by its owner only, before any
    // byte is written.
    QTemporaryFile tmp(QFileInfo(target).absolutePath() + QStringLiteral("/.kestrova-XXXXXX"));
    tmp.setAutoRemove(false);
    if (!tmp.open())
        return QStringLiteral("impossibile scrivere in %1 (%2)")
            .arg(QFileInfo(target).absolutePath(), tmp.errorString());
    tempName = tmp.fileName();
    if (tmp.write(bytes) != bytes.size() || !tmp.flush()) {
        const QString why = tmp.errorString();
        tmp.remove();
        return QStringLiteral("impossibile scrivere %1 (%2)").arg(target, why);
    }
    return std::nullopt;
}

} // namespace

CertificateResult generateSelfSignedCertificate(const QString& certFile, const QString& keyFile,
                                                const QString& hostName,
                                                const QStringList& addresses) {
    CertificateResult result;
    KeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert) {
        ERR_clear_error();
        result.error = QStringLiteral("impossibile creare la chiave");
        return result;
    }
    if (const auto why = makeCertificate(cert.get(), key.get(), hostName, addresses)) {
        ERR_clear_error();
        result.error = *why;
        return result;
    }
    QString keyTemp;
    QString certTemp;
    std::optional<QString> why = writeTemporary(keyFile, pemOf(writeKey, key.get()), keyTemp);
    if (!why)
        why = writeTemporary(certFile, pemOf(writeCert, cert.get()), certTemp);
    if (!why) {
        QFile::setPermissions(certTemp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                            QFile::ReadOther);
        // rename() replaces the old files in one step each.
        if (std::rename(QFile::encodeName(keyTemp).constData(),
                        QFile::encodeName(keyFile).constData()) != 0 ||
            std::rename(QFile::encodeName(certTemp).constData(),
                        QFile::encodeName(certFile).constData()) != 0)
            why = QStringLiteral("impossibile sostituire %1 o %2").arg(certFile, keyFile);
    }
    if (why) {
        for (const QString& temp : {keyTemp, certTemp}) {
            if (!temp.isEmpty())
                QFile::remove(temp);
        }
        result.error = *why;
        return result;
    }
    result.summary = summarize(cert.get());
    return result;
}

CertificateResult readCertificateSummary(const QString& certFile) {
    CertificateResult result;
    QFile f(certFile);
    if (!f.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("impossibile leggere il certificato %1 (%2)")
                           .arg(certFile, f.errorString());
        return result;
    }
    const QByteArray pem = f.readAll();
    BioPtr in(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    X509Ptr cert(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    ERR_clear_error();
    if (!cert) {
        result.error = QStringLiteral("%1 non contiene un certificato PEM valido").arg(certFile);
        return result;
    }
    result.summary = summarize(cert.get());
    return result;
}

CertificateResult ensureSelfSignedCertificate(const QString& certFile, const QString& keyFile,
                                              const QString& hostName,
                                              const QStringList& addresses) {
    if (!QFileInfo::exists(certFile) && !QFileInfo::exists(keyFile))
        return generateSelfSignedCertificate(certFile, keyFile, hostName, addresses);
    return readCertificateSummary(certFile);
}

} // namespace kv::ftp
