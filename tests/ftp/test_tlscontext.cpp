// The server's TLS context: every unusable file or version range fails Listen
// with the option and the reason; the chosen range is what clients get. The
// self-signed certificate: what is made and summarised (checked against the
// openssl tool), and that existing files are kept or replaced only as asked.

#include "tests/support/DataRow.h"
#include "tests/support/EngineHarness.h"

#include "ftp/TlsCertificate.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::ftp;
using namespace Qt::StringLiterals;

namespace {

// A certificate valid from `fromDays` to `toDays` (relative to now), made
// with python's cryptography package; false when that is not installed.
bool makeCertificate(EngineHarness& h, const QString& cert, const QString& key, int fromDays,
                     int toDays) {
    return h.python(uR"(
try: from cryptography import x509; from cryptography.hazmat.primitives import hashes, serialization as s
except ImportError: sys.exit(3)
import datetime as dt
from cryptography.x509.oid import NameOID
from cryptography.hazmat.primitives.asymmetric import ec
key = ec.generate_private_key(ec.SECP256R1())
name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, 'localhost')])
now = dt.datetime.now(dt.timezone.utc)
cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
        .serial_number(x509.random_serial_number()).not_valid_before(now + dt.timedelta(days=%3))
        .not_valid_after(now + dt.timedelta(days=%4)).sign(key, hashes.SHA256()))
open('%1', 'wb').write(cert.public_bytes(s.Encoding.PEM))
open('%2', 'wb').write(key.private_bytes(s.Encoding.PEM, s.PrivateFormat.PKCS8, s.NoEncryption()))
)"_s.arg(cert, key, QString::number(fromDays), QString::number(toDays)))
               .exitCode == 0;
}

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

class TestTlsContext : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The row's name is the fault made before the start.
    void listenFailsWithTheReason_data() {
        QTest::addColumn<QString>("reason");
        addRow("missing cert", "tls_certificate: impossibile leggere");
        addRow("missing key", "tls_private_key: impossibile leggere");
        addRow("garbage cert", "tls_certificate: %CERT% non contiene un certificato");
        addRow("other key", "tls_private_key: la chiave non corrisponde al certificato");
        addRow("expired", "tls_certificate: il certificato è scaduto il");
        addRow("future", "tls_certificate: il certificato non è ancora valido");
        addRow("versions", "tls_min_version: la versione minima è più alta della massima");
        addRow("implicit", "tls_implicit_port: impossibile usare la porta");
    }
    void listenFailsWithTheReason() {
        const QString fault = QString::fromLatin1(QTest::currentDataTag());
        QFETCH(QString, reason);
        EngineHarness h;
        QVERIFY(h.start()); // a plain start finds a free port for the ones below
        const quint16 port = h.port;
        h.server->StopListening();
        TlsSettings tls = h.tlsWith(TlsMode::On);
        QTcpServer squatter;
        if (fault == u"missing cert")
            tls.certificateFile = h.path(u"nowhere/cert.pem"_s);
        else if (fault == u"missing key")
            tls.privateKeyFile = h.path(u"nowhere/key.pem"_s);
        else if (fault == u"garbage cert")
            h.write(u"cert.pem"_s, "not a certificate");
        else if (fault == u"other key")
            QVERIFY(
                generateSelfSignedCertificate(h.path(u"otherc"_s), tls.privateKeyFile, u"x"_s, {})
                    .error.isEmpty());
        else if (fault == u"versions") {
            tls.minVersion = TlsVersion::V1_3;
            tls.maxVersion = TlsVersion::V1_2;
        } else if (fault == u"implicit") {
            QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
            tls.implicitPort = squatter.serverPort();
        } else if (!makeCertificate(h, tls.certificateFile, tls.privateKeyFile,
                                    fault == u"expired" ? -30 : 2, fault == u"expired" ? -1 : 30)) {
            QSKIP("python3 cryptography is not installed");
        }
        h.server->setTls(tls);
        h.server->setPort(qint16(port));
        QVERIFY(!h.server->Listen());
        QVERIFY(!h.server->isListening());
        const QString want = QString(reason).replace(u"%CERT%"_s, tls.certificateFile);
        QVERIFY2(h.server->ListenError().startsWith(want), qPrintable(h.server->ListenError()));
        // Nothing was left listening: the control port is free again.
        QVERIFY(QTcpServer().listen(QHostAddress(u"127.0.0.1"_s), port));
        // The files are read again at the next start: repaired, it starts.
        QFile::remove(h.tlsWith(TlsMode::On).certificateFile);
        h.server->setTls(h.tlsWith(TlsMode::On));
        QVERIFY(h.server->Listen());
        QVERIFY(h.server->ListenError().isEmpty());
    }

    void versionRangeIsHonoured() {
        EngineHarness h;
        h.tls = h.tlsWith(TlsMode::On);
        h.tls.maxVersion = TlsVersion::V1_2;
        h.events.accounts.insert(u"bob"_s, u"pw"_s);
        QVERIFY(h.start());
        h.write(u"root/a.txt"_s, "hello tls\n");
        // TLS 1.2 data connections resume by a ticket made in the handshake,
        // before the login, or by session id: another control connection's
        // session is taken while that connection is open and logged in as the
        // same account from the same address.
        ClientRun r = h.python(uR"(
shared = tls_context()
g = tlslogin(cls=ReuseFTP, ctx=shared)
print(g.sock.version(), attempt(g, 'RETR a.txt'), attempt(g, 'RETR a.txt'))
other = tlslogin(cls=ReuseFTP, ctx=shared)
other.borrow = g
print(attempt(other, 'RETR a.txt'))
bob = tlslogin('bob', 'pw', cls=ReuseFTP, ctx=shared); bob.borrow = g
print(attempt(bob, 'RETR a.txt'))
import types
gone = tlslogin(cls=ReuseFTP, ctx=shared); held = gone.sock.session; gone.quit()
other.borrow = types.SimpleNamespace(sock=types.SimpleNamespace(session=held))
print(attempt(other, 'RETR a.txt'))
noticket = tls_context()
noticket.options |= ssl.OP_NO_TICKET
n = tlslogin(cls=ReuseFTP, ctx=noticket)
print(attempt(n, 'RETR a.txt'))
m = tlslogin(cls=ReuseFTP, ctx=noticket); m.borrow = n; print(attempt(m, 'RETR a.txt'))
b2 = tlslogin('bob', 'pw', cls=ReuseFTP, ctx=noticket); b2.borrow = n; print(attempt(b2, 'RETR a.txt'))
)"_s);
        QCOMPARE(outputOf(r).join(u'|'), u"TLSv1.2 ok 10 ok 10|ok 10|425|425|ok 10|ok 10|425|"_s);
        QVERIFY(h.events.logLines.filter(u"TLS TLSv1.2 ECDHE-ECDSA-"_s).size() == 7);
        // TLS 1.3 only: a client that stops at 1.2 is refused.
        h.server->StopListening();
        h.tls.minVersion = h.tls.maxVersion = TlsVersion::V1_3;
        h.server->setTls(h.tls);
        QVERIFY(h.server->Listen());
        r = h.python(uR"(
try: tlslogin(ctx=tls_context(ssl.TLSVersion.TLSv1_2)); print('accepted')
except (ssl.SSLError, ConnectionError): print('refused')
print(tlslogin().sock.version())
)"_s);
        QCOMPARE(outputOf(r).join(u'|'), u"refused|TLSv1.3|"_s);
    }

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
        // The loopback names too, so ftp://localhost is checked like the host name.
        QVERIFY2(text.contains(u"DNS:kestrova-host, DNS:localhost, IP Address:192.168.1.20, "
                               "IP Address:FE80:0:0:0:0:0:0:1, IP Address:127.0.0.1, "
                               "IP Address:0:0:0:0:0:0:0:1\n"_s),
                 qPrintable(text));
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

QTEST_GUILESS_MAIN(TestTlsContext)
#include "test_tlscontext.moc"
