// The administration certificate: made once, private, an ECDSA key, and a
// fingerprint that stays the same from one start to the next.
#include "adminchannel/AdminCertificate.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;

class TestAdminCertificate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void madeOnceAndKept() {
        QTemporaryDir dir;
        const AdminCertificate first = ensureAdminCertificate(dir.path());
        QVERIFY2(first.ok(), qPrintable(first.error));
        QCOMPARE(first.key.algorithm(), QSsl::Ec);
        QCOMPARE(first.key.length(), 256);
        for (const QString& file : {adminCertificateFile(dir.path()), adminKeyFile(dir.path())})
            QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser),
                     QFile::ReadOwner | QFile::WriteOwner); // 0600
        const qint64 days =
            first.certificate.effectiveDate().daysTo(first.certificate.expiryDate());
        QVERIFY(days >= 3650 && days <= 3660);
        QVERIFY(!QFile::exists(dir.path() + "/cert.pem")); // never the FTPS one

        const AdminCertificate again = ensureAdminCertificate(dir.path());
        QCOMPARE(again.fingerprint, first.fingerprint);
        QCOMPARE(again.certificate, first.certificate);
    }

    void unreadableFilesAreSaid() {
        QTemporaryDir dir;
        QFile half(adminCertificateFile(dir.path()));
        QVERIFY(half.open(QIODevice::WriteOnly)); // a certificate file without its key
        half.write("not a certificate");
        half.close();
        const AdminCertificate result = ensureAdminCertificate(dir.path());
        QVERIFY(!result.ok());
        QVERIFY(result.error.contains("admin-"));
        QCOMPARE(half.size(), qint64(17)); // nothing replaced
    }
};

QTEST_GUILESS_MAIN(TestAdminCertificate)
#include "test_admincertificate.moc"
