// Commands that automation clients, cameras and mirroring tools send, driven
// through a real FtpServer by Python's ftplib on loopback: ALLO, AVBL, CLNT,
// SITE, OPTS MLST, MKD's reasons and the checksums, compared with what
// Python's hashlib and zlib compute, while other sessions stay answered.

#include "tests/support/EngineHarness.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace kv::engine;
using namespace Qt::StringLiterals;

class TestClientCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void exchange_data();
    void exchange();
    void mlstFactsFollowOpts();
    void checksumsMatchHashlib();
    void hashOfAHugeFileStallsNoOtherSession();
    void abandonedHashesFreeTheirWorkers();
};

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

void TestClientCommands::exchange_data() {
    // "command => start of the last line of its reply"
    QTest::addColumn<QString>("rights");
    QTest::addColumn<QStringList>("exchange");
    QTest::addColumn<int>("modeAfter"); // of a.txt, which starts as 0644
    const auto row = [](const char* name, const QString& rights, const QStringList& exchange,
                        int modeAfter = 0644) {
        QTest::newRow(name) << rights << exchange << modeAfter;
    };
    row("cameras and scanners", u"RWDBM"_s,
        {"CLNT Camera 1.0 => 200 CLNT command successful", "ALLO => 200 ALLO command successful",
         "ALLO 1000 => 200 ALLO command successful", "ALLO 1000 R 512 => 200",
         "ALLO 999999999999999999 => 452 Insufficient storage space: ",
         "ALLO x => 501 Syntax error in parameters", "ALLO -5 => 501", "ALLO +5 => 501",
         "AVBL => 213 ", "AVBL sub => 213 ", "AVBL a.txt => 550 a.txt: Not a directory.",
         "AVBL nothere => 550 nothere: No such file or directory.", "AVBL ../.. => 213 "});
    row("site chmod and help", u"RWDBM"_s,
        {"SITE HELP => 214 End of SITE help.", "SITE help => 214",
         "SITE FROB x => 504 SITE FROB is not implemented.",
         "SITE CHMOD 4755 a.txt => 501 4755: Invalid mode; only permission bits 0-777",
         "SITE CHMOD 1777 sub => 501 1777: Invalid mode", "SITE CHMOD 2640 a.txt => 501",
         "SITE CHMOD u+x a.txt => 501 u+x: Invalid mode", "SITE CHMOD 8 a.txt => 501",
         "SITE CHMOD 644 => 501 Syntax error - SITE CHMOD need more arguments",
         "SITE CHMOD 644 nothere => 550 nothere: No such file or directory.",
         "SITE CHMOD 755 / => 550 Access denied", "SITE CHMOD 777 ../outside.txt => 550",
         "SITE CHMOD 700 sub => 200 SITE CHMOD command successful",
         "SITE chmod 0600 a.txt => 200 SITE CHMOD command successful"},
        0600);
    // Which right each checksum, mode change and free space needs: the file
    // service's table. ALLO asks for the free space, yet needs no right.
    row("without the browse right", u"RWDM"_s,
        {"AVBL => 550 Access denied", "ALLO 5 => 200 ALLO command successful"});
    row("hash choices and refusals", u"RWDBM"_s,
        {"OPTS HASH => 200 SHA-256", "OPTS HASH md5 => 200 MD5", "OPTS HASH => 200 MD5",
         "OPTS HASH SHA-512 => 501 SHA-512: Unsupported algorithm.", "OPTS HASH => 200 MD5",
         "HASH a.txt => 213 MD5 0-5 5d41402abc4b2a76b9719d911017c592 a.txt",
         "HASH sub => 550 sub: Not a regular file.",
         "XSHA1 nothere => 550 nothere: No such file or directory.", "HASH ../outside.txt => 550",
         "HASH => 501 Syntax error - HASH need more arguments"});
    row("opts mlst", u"RWDBM"_s,
        {"OPTS MLST size;Type;nonsense; => 200 MLST OPTS type;size;", "OPTS MLST => 200 MLST OPTS",
         "OPTS mlst modify => 200 MLST OPTS modify;", "OPTS MLSTX => 501 Option not understood.",
         "OPTS UTF8 ON => 200 UTF8 set to on"});
    row("folder names the system refuses", u"RWDBM"_s,
        {"MKD " + QString(300, u'n') + " => 550 File name too long.",
         "MKD sub => 550 sub: File exists.", "MKD fresh => 257"});
}

void TestClientCommands::exchange() {
    QFETCH(QString, rights);
    QFETCH(QStringList, exchange);
    EngineHarness h;
    h.write("root/a.txt", "hello");
    h.write("outside.txt", "TOP OUTSIDE");
    QDir().mkpath(h.path("root/sub"));
    QVERIFY(QFile::setPermissions(h.path("root/a.txt"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const int outsideMode = modeOf(h.path("outside.txt"));
    const int rootMode = modeOf(h.path("root"));
    h.events.rights = kv::files::Rights::fromLetters(rights);
    QVERIFY(h.start());
    QString commands;
    for (const QString& e : std::as_const(exchange))
        commands += u"'''%1''',"_s.arg(e.section(u" => "_s, 0, 0));
    const ClientRun r = h.python(u"LINES = [%1]\n"_s.arg(commands) + uR"(
f = login()
for line in LINES: print(resp(f, line).splitlines()[-1])
)"_s);
    const QStringList out = outputOf(r);
    QCOMPARE(out.size(), exchange.size() + 1);
    for (qsizetype i = 0; i < exchange.size(); ++i)
        QVERIFY2(out[i].startsWith(exchange[i].section(u" => "_s, 1)),
                 qPrintable(exchange[i].left(60) + u" got "_s + out[i]));
    QTEST(modeOf(h.path("root/a.txt")), "modeAfter");
    QCOMPARE(modeOf(h.path("outside.txt")), outsideMode);
    QCOMPARE(modeOf(h.path("root")), rootMode);
}

void TestClientCommands::mlstFactsFollowOpts() {
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
                               "[' MLST type;size*;modify;perm*;']", "'  /d/f.txt'", "[' f.txt']",
                               "True", ""}));
}

void TestClientCommands::checksumsMatchHashlib() {
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

void TestClientCommands::hashOfAHugeFileStallsNoOtherSession() {
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

void TestClientCommands::abandonedHashesFreeTheirWorkers() {
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

QTEST_GUILESS_MAIN(TestClientCommands)
#include "test_clientcommands.moc"
