#pragma once
// The ACME certificate and key kept in DATA/acme/ (folder 0700, files
// 0600): the pair in use (cert.pem with its chain, key.pem), the one before
// it (previous-cert.pem, previous-key.pem) and the account's key. A new pair
// takes the place of the current one, which is kept as the previous; a new
// pair that cannot be loaded is taken back and the previous stays in use.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace kv {

// What the operator is told about a certificate.
struct AcmeCertificateFacts {
    QStringList names; // its DNS names
    QString issuer;    // the issuer's CN, or O
    QString serial;    // hex
    QDateTime notBefore;
    QDateTime notAfter; // UTC
};

// The facts of the first certificate in `pem`; none when it is not one.
std::optional<AcmeCertificateFacts> readCertificateFacts(const QByteArray& pem);

class AcmePairStore {
public:
    explicit AcmePairStore(const QString& dataFolder);

    QString folder() const { return folder_; }
    QString certificateFile() const;
    QString keyFile() const;
    QString previousCertificateFile() const;
    QString previousKeyFile() const;
    QString accountKeyFile() const;

    // Makes the folder (0700) when missing; the Italian reason when it cannot.
    std::optional<QString> ensureFolder() const;

    // Puts the new pair in use, the current one becoming the previous. When
    // the new pair cannot be loaded it is taken back: the reason, and the
    // previous pair is in use again.
    std::optional<QString> install(const QByteArray& chainPem, const QByteArray& keyPem) const;
    // Puts the previous pair back in use (after a reload refused the new one).
    bool rollback() const;

    // The facts of the current pair when it loads (readable, matching, valid
    // today); none otherwise.
    std::optional<AcmeCertificateFacts> usablePair() const;

    // The pair FTPS should serve: the current one when it loads, otherwise
    // the previous one when that does (the current pair was cut short, as by
    // a power cut while it was put in place); none when neither loads.
    struct PairInUse {
        QString certificateFile;
        QString keyFile;
        AcmeCertificateFacts facts;
    };
    std::optional<PairInUse> pairInUse() const;

    // Why `certificateFile` and `keyFile` cannot serve FTPS, as the engine
    // would load them; none when they can.
    static std::optional<QString> checkPair(const QString& certificateFile, const QString& keyFile);

private:
    QString folder_;
};

} // namespace kv
