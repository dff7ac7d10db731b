// Commands that automation clients, cameras and mirroring tools send, driven
// through a real FtpServer by Python's ftplib on loopback: MLST facts after
// OPTS MLST and the checksums, compared with what Python's hashlib and zlib
// compute, while other sessions stay answered (their replies line by line:
// test_ftpserver's scripted sessions).

#include "tests/support/EngineHarness.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kv::engine;
using namespace Qt::StringLiterals;

class TestClientCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mlstFactsFollowOpts() {
        EngineHarness h;
        h.write("root/d/f.txt", "12345");
        QVERIFY(h.start());
        const ClientRun r = h.python(R"(
f = login()
print(resp(f, 'MLST d/f.txt').splitlines()[1])
f.sendcmd('OPTS MLST size;perm;')
print(resp(f, 'MLST d/f.txt').splitlines()[1]); print(lines(f, 'MLSD d'))
print([l for l in resp(f, 'FEAT').splitlines() if 'MLST' in l])
f.sendcmd('OPTS MLST')
print(repr(resp(f, 'MLST d/f.txt').splitlines()[1])); print(lines(f, 'MLSD d'))
g = login(); print(resp(g, 'MLST d/f.txt').splitlines()[1].startswith(' type=file;size=5;modify='))
)");
        QStringList out = outputOf(r);
        QVERIFY2(out.value(0).startsWith(u" type=file;size=5;modify="), qPrintable(out.value(0)));
        out.removeFirst();
        QCOMPARE(out, QStringList({" size=5;perm=radfw; /d/f.txt", "['size=5;perm=radfw; f.txt']",
                                   "[' MLST type;size*;modify;perm*;']", "'  /d/f.txt'",
                                   "[' f.txt']", "True", ""}));
    }

    void checksumsMatchHashlib() {
        EngineHarness h;
        // A few MiB that are not one repeated byte, plus an empty file.
        QByteArray data;
        for (int i = 0; data.size() < 3 * 1024 * 1024 + 123; ++i)
            data += QByteArray::number(i * 2654435761u);
        h.write("root/data.bin", data);
        h.write("root/empty", "");
        h.write("root/with space.txt", "spaced");
        QVERIFY(h.start());
        const ClientRun r = h.python(R"(
import zlib
f = login()
def check(name):
    data = open(os.path.join(ROOT, name), 'rb').read()
    want = {'SHA-256': hashlib.sha256(data).hexdigest(), 'SHA-1': hashlib.sha1(data).hexdigest(),
            'MD5': hashlib.md5(data).hexdigest(), 'CRC32': '%08x' % zlib.crc32(data)}
    verbs = {'SHA-256': 'XSHA256', 'SHA-1': 'XSHA1', 'MD5': 'XMD5', 'CRC32': 'XCRC'}
    bad = []
    for algo, digest in want.items():
        f.sendcmd('OPTS HASH ' + algo)
        got = f.sendcmd('HASH ' + name)
        if got != '213 %s 0-%d %s %s' % (algo, len(data), digest, name): bad.append(got)
        got = f.sendcmd('%s %s' % (verbs[algo], name))
        if got != '250 ' + digest.upper(): bad.append(got)
    return bad
for name in ('data.bin', 'empty', 'with space.txt'): print(name, check(name))
)");
        QCOMPARE(outputOf(r), QStringList({"data.bin []", "empty []", "with space.txt []", ""}));
    }

    void hashOfAHugeFileStallsNoOtherSession() {
        EngineHarness h;
        {
            QFile big(h.path("root/huge.bin"));
            QVERIFY(QDir().mkpath(h.path("root")));
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(qint64(1) << 30)); // sparse: no disk used
        }
        QVERIFY(h.start());
        // One session hashes 1 GiB (a command sent after it waits for it, NOOP
        // does not); another session's NOOPs are answered meanwhile.
        const ClientRun r = h.python(R"(
s = socket.create_connection(('127.0.0.1', PORT), timeout=60); fh = s.makefile('rb')
rd = lambda: fh.readline().decode().rstrip('\r\n')
rd(); s.sendall(b'USER alice\r\n'); rd(); s.sendall(b'PASS secret\r\n'); rd()
g = login()
s.sendall(b'HASH huge.bin\r\nNOOP\r\nPWD\r\n')
started = time.monotonic(); worst = 0; answered = 0
s.setblocking(False); pending = b''
while pending.count(b'\n') < 2 and time.monotonic() - started < 60:
    t = time.monotonic(); g.voidcmd('NOOP'); worst = max(worst, time.monotonic() - t); answered += 1
    try: pending += s.recv(4096)
    except BlockingIOError: pass
    time.sleep(0.01)
s.setblocking(True); s.settimeout(60)
while pending.count(b'\n') < 3: pending += s.recv(4096)
replies = pending.decode().split('\r\n')[:3]
print(replies[0]); print(replies[1]); print(replies[2][:3])
print(answered >= 5, worst < 0.5, worst if worst >= 0.5 else '')
)",
                                     90000);
        const QStringList out = outputOf(r);
        QCOMPARE(out.value(0),
                 u"200 NOOP command successful"_s); // answered at once, while the hash runs
        QCOMPARE(out.value(1), u"213 SHA-256 0-1073741824 "
                               "49bc20df15e412a64472421e13fe86ff1c5165e18b2afccf160d4dc19fe68a14 "
                               "huge.bin"_s);
        QCOMPARE(out.value(2), u"257"_s); // waited for the hash
        QCOMPARE(out.value(3), u"True True "_s);
    }

    void abandonedHashesFreeTheirWorkers() {
        EngineHarness h;
        {
            QFile big(h.path("root/huge.bin"));
            QVERIFY(QDir().mkpath(h.path("root")));
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(qint64(64) << 30)); // sparse; minutes to hash
        }
        h.write("root/small.txt", "abc");
        QVERIFY(h.start());
        // Clients that ask for a long hash and go away take every worker; the
        // next client's hash must not wait for theirs.
        const ClientRun r = h.python(uR"(
for _ in range(%1):
    s = socket.create_connection(('127.0.0.1', PORT), timeout=10); fh = s.makefile('rb')
    fh.readline(); s.sendall(b'USER alice\r\nPASS secret\r\n'); fh.readline(); fh.readline()
    s.sendall(b'HASH huge.bin\r\n'); time.sleep(0.2); s.close()
f = login(); started = time.monotonic()
print(f.sendcmd('XSHA1 small.txt'), time.monotonic() - started < 10)
# ABOR stops a long hash at once (so it holds no worker), and the sessions go on.
held = [login() for _ in range(%1)]
for h in held:
    h.putcmd('HASH huge.bin'); time.sleep(0.2); h.putcmd('ABOR'); print(h.getline(), h.getline()[:3])
print(f.sendcmd('XCRC small.txt'), time.monotonic() - started < 10, held[0].sendcmd('NOOP')[:3])
)"_s.arg(kHashesAtOnce),
                                     30000);
        QStringList expected{u"250 A9993E364706816ABA3E25717850C26C9CD0D89D True"_s};
        for (int i = 0; i < kHashesAtOnce; ++i)
            expected << u"426 huge.bin: Checksum aborted. 226"_s;
        expected << u"250 352441C2 True 200"_s << QString();
        QCOMPARE(outputOf(r), expected);
    }
};

QTEST_GUILESS_MAIN(TestClientCommands)
#include "test_clientcommands.moc"
