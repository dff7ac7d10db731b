// The self-signed certificate: what is made and summarised (checked against
// the openssl tool), and that existing files are kept or replaced only as asked.

#include "engine/TlsCertificate.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::engine;
using namespace Qt::StringLiterals;

namespace {

QString openssl(const QStringList& args) {
    QProcess p;
    p.start(u"openssl"_s, args);
    return p.waitForFinished(20000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestTlsCertificate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void generatedCertificate() {
        QTemporaryDir dir;
        const QString cert = dir.filePath(u"c.pem"_s), key = dir.filePath(u"k.pem"_s);
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const CertificateResult r = generateSelfSignedCertificate(
            cert, key, u"kestrova-host"_s, {u"192.168.1.20"_s, u"fe80::1%eth0"_s, u"not-an-ip"_s});
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QVERIFY(r.summary);
        QCOMPARE(QFile::permissions(key),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no leftovers

        QCOMPARE(r.summary->subject, u"CN=kestrova-host"_s);
        QVERIFY(qAbs(r.summary->notBefore.secsTo(before)) < 600);
        const qint64 days = r.summary->notBefore.daysTo(r.summary->notAfter);
        QVERIFY2(days >= 3652 && days <= 3654, qPrintable(QString::number(days)));
        QCOMPARE(readCertificateSummary(cert).summary->sha256Fingerprint,
                 r.summary->sha256Fingerprint);

        const QString text = openssl(
            {u"x509"_s, u"-in"_s, cert, u"-noout"_s, u"-text"_s, u"-fingerprint"_s, u"-sha256"_s});
        if (text.isEmpty())
            QSKIP("openssl tool not installed");
        QVERIFY(text.contains(
            u"DNS:kestrova-host, IP Address:192.168.1.20, IP Address:FE80:0:0:0:0:0:0:1"_s));
        QVERIFY(!text.contains(u"not-an-ip"_s));
        QVERIFY(text.contains(u"ecdsa-with-SHA256"_s) && text.contains(u"NIST CURVE: P-256"_s));
        QVERIFY2(text.contains(u"Fingerprint="_s + r.summary->sha256Fingerprint), qPrintable(text));
    }

    void ensureKeepsAndGenerateReplaces() {
        QTemporaryDir dir;
        const QString cert = dir.filePath(u"c.pem"_s), key = dir.filePath(u"k.pem"_s);
        const CertificateResult first = ensureSelfSignedCertificate(cert, key, u"h"_s, {});
        QVERIFY(first.summary);
        const QByteArray keyBytes = contents(key);
        // Later starts reuse the files, so clients that trusted it keep trusting it.
        const CertificateResult again = ensureSelfSignedCertificate(cert, key, u"other"_s, {});
        QVERIFY(again.summary);
        QCOMPARE(again.summary->sha256Fingerprint, first.summary->sha256Fingerprint);
        QCOMPARE(contents(key), keyBytes);
        // Asked for explicitly, a new one replaces both files.
        const CertificateResult fresh = generateSelfSignedCertificate(cert, key, u"h"_s, {});
        QVERIFY(fresh.summary);
        QVERIFY(fresh.summary->sha256Fingerprint != first.summary->sha256Fingerprint);
        QCOMPARE(readCertificateSummary(cert).summary->sha256Fingerprint,
                 fresh.summary->sha256Fingerprint);
    }

    void unusableFilesAreReported() {
        QTemporaryDir dir;
        QVERIFY(readCertificateSummary(dir.filePath(u"none.pem"_s))
                    .error.startsWith(u"impossibile leggere il certificato"_s));
        const CertificateResult nowhere = generateSelfSignedCertificate(
            dir.filePath(u"no/c.pem"_s), dir.filePath(u"no/k.pem"_s), u"h"_s, {});
        QVERIFY(!nowhere.summary);
        QVERIFY(nowhere.error.startsWith(u"impossibile scrivere"_s));
    }
};

QTEST_GUILESS_MAIN(TestTlsCertificate)
#include "test_tlscertificate.moc"
