// Commands that automation clients, cameras and mirroring tools send, driven
// through a real FtpServer by Python's ftplib on loopback: MLST facts and the
// hash as FEAT tells them after OPTS, and long checksums while other sessions
// stay answered (their replies line by line: test_ftpserver's scripted sessions).

#include "tests/support/EngineHarness.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kv::ftp;
using namespace Qt::StringLiterals;

// root/huge.bin of `size` bytes that use no disk.
static bool sparseFile(EngineHarness& h, qint64 size) {
    QFile big(h.path("root/huge.bin"));
    return QDir().mkpath(h.path("root")) && big.open(QIODevice::WriteOnly) && big.resize(size);
}

class TestClientCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mlstFactsAndTheHashFollowOpts() {
        EngineHarness h;
        h.write("root/d/f.txt", "12345");
        QVERIFY(h.start());
        const ClientRun r = h.python(R"(
f = login()
print(resp(f, 'MLST d/f.txt').splitlines()[1])
f.sendcmd('OPTS MLST size;perm;'); f.sendcmd('OPTS HASH CRC32')
print(resp(f, 'MLST d/f.txt').splitlines()[1]); print(lines(f, 'MLSD d'))
print([l for l in resp(f, 'FEAT').splitlines() if 'MLST' in l or 'HASH' in l])
f.sendcmd('OPTS MLST')
print(repr(resp(f, 'MLST d/f.txt').splitlines()[1])); print(lines(f, 'MLSD d'))
g = login(); print(resp(g, 'MLST d/f.txt').splitlines()[1].startswith(' type=file;size=5;modify='))
print([l for l in resp(g, 'FEAT').splitlines() if 'HASH' in l])
)");
        QStringList out = outputOf(r);
        QVERIFY2(out.value(0).startsWith(u" type=file;size=5;modify="), qPrintable(out.value(0)));
        out.removeFirst();
        QCOMPARE(out, QStringList(
                          {" size=5;perm=radfw; /d/f.txt", "['size=5;perm=radfw; f.txt']",
                           "[' HASH SHA-256;SHA-1;MD5;CRC32*', ' MLST type;size*;modify;perm*;']",
                           "'  /d/f.txt'", "[' f.txt']", "True",
                           "[' HASH SHA-256*;SHA-1;MD5;CRC32']", ""}));
    }

    // The perm fact says what this login may do, so a client does not offer
    // what would only be refused; the disk's own permissions narrow it further.
    void permFactsFollowTheLoginsRights_data() {
        QTest::addColumn<QString>("rights");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("all") << u"RWDBM"_s
                             << QStringList{"type=dir;perm=elcdfmp; d",
                                            "type=file;perm=radfw; f.txt",
                                            " type=file;perm=radfw; /f.txt"};
        QTest::newRow("read and browse")
            << u"RB"_s
            << QStringList{"type=dir;perm=el; d", "type=file;perm=r; f.txt",
                           " type=file;perm=r; /f.txt"};
        QTest::newRow("write") << u"W"_s
                               << QStringList{"type=dir;perm=lcf; d", "type=file;perm=afw; f.txt",
                                              " type=file;perm=afw; /f.txt"};
        QTest::newRow("delete") << u"D"_s
                                << QStringList{"type=dir;perm=lp; d", "type=file;perm=d; f.txt",
                                               " type=file;perm=d; /f.txt"};
        QTest::newRow("manage") << u"M"_s
                                << QStringList{"type=dir;perm=ldm; d", "type=file; f.txt",
                                               " type=file; /f.txt"};
    }

    void permFactsFollowTheLoginsRights() {
        QFETCH(QString, rights);
        QFETCH(QStringList, listed);
        EngineHarness h;
        h.write("root/f.txt", "12345");
        QVERIFY(QDir().mkpath(h.path("root/d")));
        h.events.rights = kv::files::Rights::fromLetters(rights);
        QVERIFY(h.start());
        const ClientRun r = h.python(R"(
f = login(); f.sendcmd('OPTS MLST type;perm;')
for l in sorted(lines(f, 'MLSD')): print(l)
print(resp(f, 'MLST f.txt').splitlines()[1])
)");
        QStringList out = outputOf(r);
        out.removeAll(QString());
        QCOMPARE(out, listed);
    }

    void hashOfAHugeFileStallsNoOtherSession() {
        EngineHarness h;
        QVERIFY(sparseFile(h, qint64(1) << 30));
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
        QVERIFY(sparseFile(h, qint64(64) << 30)); // minutes to hash
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
)"_s.arg(kv::session::kHashesAtOnce),
                                     30000);
        QStringList expected{u"250 A9993E364706816ABA3E25717850C26C9CD0D89D True"_s};
        for (int i = 0; i < kv::session::kHashesAtOnce; ++i)
            expected << u"426 huge.bin: Checksum aborted. 226"_s;
        expected << u"250 352441C2 True 200"_s << QString();
        QCOMPARE(outputOf(r), expected);
    }
};

QTEST_GUILESS_MAIN(TestClientCommands)
#include "test_clientcommands.moc"
