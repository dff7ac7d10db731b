// The ACME pair's files and their rollback.
#include "core/AcmePairStore.h"

#include "ftp/TlsContext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr QFileDevice::Permissions kPrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString entryText(X509_NAME* name, int nid) {
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return {};
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0)
        return {};
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(utf8), length);
    OPENSSL_free(utf8);
    return text;
}

QDateTime asDateTime(const ASN1_TIME* time) {
    struct tm parts = {};
    if (ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

// Writes `bytes` to a new file of mode 0600 (an old one of that name is
// removed first), on the disk before it is renamed into place.
bool writePrivate(const QString& path, const QByteArray& bytes) {
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kPrivateFile))
        return false;
    return file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
}

std::optional<AcmeCertificateFacts> factsOfLoadablePair(const QString& certificateFile,
                                                        const QString& keyFile) {
    if (!QFile::exists(certificateFile) || AcmePairStore::checkPair(certificateFile, keyFile))
        return std::nullopt;
    QFile file(certificateFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return readCertificateFacts(file.readAll());
}

// Renames `from` to `to`, replacing it.
bool moveOver(const QString& from, const QString& to) {
    QFile::remove(to);
    return QFile::rename(from, to);
}

} // namespace

std::optional<AcmeCertificateFacts> readCertificateFacts(const QByteArray& pem) {
    BIO* in = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    X509* cert = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    if (!cert)
        return std::nullopt;
    AcmeCertificateFacts facts;
    auto* names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
        if (name->type == GEN_DNS)
            facts.names << QString::fromUtf8(
                reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                ASN1_STRING_length(name->d.dNSName));
    }
    GENERAL_NAMES_free(names);
    X509_NAME* issuer = X509_get_issuer_name(cert);
    facts.issuer = entryText(issuer, NID_commonName);
    if (facts.issuer.isEmpty())
        facts.issuer = entryText(issuer, NID_organizationName);
    if (BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr)) {
        char* hex = BN_bn2hex(serial);
        facts.serial = QString::fromLatin1(hex).toLower();
        OPENSSL_free(hex);
        BN_free(serial);
    }
    facts.notBefore = asDateTime(X509_get0_notBefore(cert));
    facts.notAfter = asDateTime(X509_get0_notAfter(cert));
    X509_free(cert);
    return facts;
}

AcmePairStore::AcmePairStore(const QString& dataFolder)
    : folder_(QDir(dataFolder).filePath(QStringLiteral("acme"))) {}

QString AcmePairStore::certificateFile() const {
    return folder_ + QStringLiteral("/cert.pem");
}
QString AcmePairStore::keyFile() const {
    return folder_ + QStringLiteral("/key.pem");
}
QString AcmePairStore::previousCertificateFile() const {
    return folder_ + QStringLiteral("/previous-cert.pem");
}
QString AcmePairStore::previousKeyFile() const {
    return folder_ + QStringLiteral("/previous-key.pem");
}
QString AcmePairStore::accountKeyFile() const {
    return folder_ + QStringLiteral("/account-key.pem");
}

std::optional<QString> AcmePairStore::ensureFolder() const {
    if (QFileInfo(folder_).isDir())
        return std::nullopt;
    if (!QDir().mkpath(folder_) ||
        !QFile::setPermissions(folder_, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner))
        return QStringLiteral("Impossibile creare la cartella %1").arg(folder_);
    return std::nullopt;
}

std::optional<QString> AcmePairStore::install(const QByteArray& chainPem,
                                              const QByteArray& keyPem) const {
    if (auto error = ensureFolder())
        return error;
    const QString newCert = folder_ + QStringLiteral("/new-cert.pem");
    const QString newKey = folder_ + QStringLiteral("/new-key.pem");
    if (!writePrivate(newCert, chainPem) || !writePrivate(newKey, keyPem)) {
        QFile::remove(newCert);
        QFile::remove(newKey);
        return QStringLiteral("Impossibile scrivere il nuovo certificato in %1").arg(folder_);
    }
    // A current pair that does not load (cut short) never takes the place of
    // a previous one that does.
    if (usablePair()) {
        if (!moveOver(certificateFile(), previousCertificateFile()) ||
            !moveOver(keyFile(), previousKeyFile()))
            return QStringLiteral("Impossibile conservare il certificato precedente in %1")
                .arg(folder_);
    }
    const bool hadPair =
        factsOfLoadablePair(previousCertificateFile(), previousKeyFile()).has_value();
    moveOver(newCert, certificateFile());
    moveOver(newKey, keyFile());
    if (const auto problem = checkPair(certificateFile(), keyFile())) {
        if (hadPair)
            rollback();
        else {
            QFile::remove(certificateFile());
            QFile::remove(keyFile());
        }
        return QStringLiteral("Il nuovo certificato non può essere usato (%1): %2")
            .arg(*problem, hadPair ? QStringLiteral("resta in uso il precedente")
                                   : QStringLiteral("resta in uso quello autofirmato"));
    }
    return std::nullopt;
}

bool AcmePairStore::rollback() const {
    if (!QFile::exists(previousCertificateFile()) || !QFile::exists(previousKeyFile()))
        return false;
    return moveOver(previousCertificateFile(), certificateFile()) &&
           moveOver(previousKeyFile(), keyFile());
}

std::optional<AcmeCertificateFacts> AcmePairStore::usablePair() const {
    return factsOfLoadablePair(certificateFile(), keyFile());
}

std::optional<AcmePairStore::PairInUse> AcmePairStore::pairInUse() const {
    for (const auto& [certificate, key] :
         {std::pair(certificateFile(), keyFile()),
          std::pair(previousCertificateFile(), previousKeyFile())}) {
        if (auto facts = factsOfLoadablePair(certificate, key))
            return PairInUse{certificate, key, *facts};
    }
    return std::nullopt;
}

std::optional<QString> AcmePairStore::checkPair(const QString& certificateFile,
                                                const QString& keyFile) {
    ftp::TlsSettings settings;
    settings.mode = ftp::TlsMode::On;
    settings.certificateFile = certificateFile;
    settings.privateKeyFile = keyFile;
    const ftp::TlsContext::Result loaded = ftp::TlsContext::create(settings);
    if (loaded.context)
        return std::nullopt;
    return loaded.error;
}

} // namespace kv
