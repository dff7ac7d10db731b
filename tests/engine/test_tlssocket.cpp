// FTPS through the engine's TLS streams, driven by real clients on
// loopback: explicit and implicit TLS, protected transfers compared byte for
// byte, the data connection bound to its own control session, the replies
// of AUTH/PBSZ/PROT and the required mode, and clients that misbehave.

#include "tests/support/EngineHarness.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTest>

using namespace kv::engine;
using namespace Qt::StringLiterals;

namespace {

QByteArray randomBytes(qsizetype n) {
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(b.data()), n / 4);
    return b;
}

bool loggedLine(const FakeEvents& e, const QString& start) {
    for (const QString& l : e.logLines) {
        if (l.startsWith(start))
            return true;
    }
    return false;
}

} // namespace

class TestTlsSocket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void curlExplicitAndImplicit();
    void dataConnectionMustResumeItsOwnSession();
};

void TestTlsSocket::curlExplicitAndImplicit() {
    EngineHarness h;
    h.tls = h.tlsWith(TlsMode::On);
    h.wantImplicit = true;
    QVERIFY(h.start());
    const QByteArray big = randomBytes(3 * 1024 * 1024 + 17);
    h.write(u"root/big.bin"_s, big);
    const QString out = h.path(u"fetched.bin"_s);
    ClientRun r =
        h.program(u"curl"_s, {u"-sS"_s, u"--ssl-reqd"_s, u"-k"_s, u"-u"_s, u"alice:secret"_s,
                              u"ftp://127.0.0.1:%PORT%/big.bin"_s, u"-o"_s, out});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(h.read(u"fetched.bin"_s), big);
    QVERIFY(loggedLine(h.events, u"TLS TLSv1.3 "_s));
    QVERIFY(loggedLine(h.events, u"AUTH "_s)); // curl asks for SSL first
    QVERIFY(loggedLine(h.events, u"PROT P"_s));
    // Upload over the implicit port.
    const QString implicitUrl = u"ftps://127.0.0.1:%1/up.bin"_s.arg(h.implicitPort);
    r = h.program(u"curl"_s, {u"-sS"_s, u"-k"_s, u"-u"_s, u"alice:secret"_s, u"-T"_s,
                              h.path(u"root/big.bin"_s), implicitUrl});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(h.read(u"root/up.bin"_s), big);
}

void TestTlsSocket::dataConnectionMustResumeItsOwnSession() {
    // ftplib's FTP_TLS starts a fresh session on every data connection.
    for (const bool reuse : {true, false}) {
        EngineHarness h;
        h.tls = h.tlsWith(TlsMode::On, reuse);
        QVERIFY(h.start());
        h.write(u"root/a.txt"_s, "hello tls\n");
        const ClientRun r = h.python(uR"(
f = tlslogin()
print(attempt(f, 'RETR a.txt'))
shared = tls_context()
g = tlslogin(cls=ReuseFTP, ctx=shared)
print(attempt(g, 'RETR a.txt'), attempt(g, 'RETR a.txt'), attempt(g, 'NLST'))
other = tlslogin(cls=ReuseFTP, ctx=shared)
other.borrow = g
print(attempt(other, 'RETR a.txt'))
print(attempt(g, 'RETR a.txt'))
)"_s);
        const QStringList expected =
            reuse ? QStringList{u"425"_s, u"ok 10 ok 10 ok 7"_s, u"425"_s, u"ok 10"_s, u""_s}
                  : QStringList{u"ok 10"_s, u"ok 10 ok 10 ok 7"_s, u"ok 10"_s, u"ok 10"_s, u""_s};
        QCOMPARE(outputOf(r).join(u"|"), expected.join(u"|"));
        if (reuse)
            QVERIFY(
                h.events.logLines.contains(u"425 TLS session of data connection not resumed."_s));
    }
}

QTEST_GUILESS_MAIN(TestTlsSocket)
#include "test_tlssocket.moc"
