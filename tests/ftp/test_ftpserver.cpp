// FtpServer driven by real clients on loopback: replies, the events asked,
// the file system boundary, data connections and transfers clients rely on.

#include "tests/support/EngineHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace kv::ftp;
using namespace Qt::StringLiterals;

static int modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

static QStringList snapshot(const QString& root) {
    QStringList out;
    for (const QFileInfo& fi : QDir(root).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
        out << u"%1 %2 %3"_s.arg(fi.fileName())
                   .arg(fi.size())
                   .arg(fi.lastModified().toSecsSinceEpoch());
    return out;
}

class TestFtpServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listenFailuresAndAddresses() {
        FtpServer fresh;
        // A reply argument holding "%s" is inserted as it is, never expanded again.
        QCOMPARE(fresh.replyTexts().format(Reply::Restarting, {"100%s"}),
                 u"350 Restarting at 100%s - send STORE or RETRIEVE to initiate transfer"_s);
        EngineHarness h;
        QVERIFY(h.start());
        const std::pair<QString, int> refused[] = {
            {u"127.0.0.1"_s, 0},
            {u"127.0.0.1"_s, h.port}, // in use
            {u"192.0.2.77"_s, 2121},
            {u"not an address"_s, 2121}}; // not this machine's
        for (const auto& [address, port] : refused) {
            fresh.setLocalAddress(address);
            fresh.setPort(quint16(port));
            QVERIFY2(!fresh.Listen(), qPrintable(address));
            QVERIFY(!fresh.isListening());
        }
        // "" listens on every IPv4 address.
        h.server->StopListening();
        h.server->setLocalAddress(QString());
        QVERIFY(h.server->Listen());
        const ClientRun r = h.python("print(login().pwd())");
        QCOMPARE(r.out.trimmed(), QByteArray("/"));
    }

    // "::" (what "Default" listens on) takes IPv6 and IPv4 clients on one
    // socket; an IPv4 client is an IPv4 address everywhere (the bus, the
    // session, the reply to PASV, the data connection it opens).
    void everyAddressTakesIPv4AndIPv6Clients() {
        EngineHarness h;
        QVERIFY(h.start());
        h.write("root/a.txt", "small");
        h.server->StopListening();
        h.server->setLocalAddress(u"::"_s);
        QVERIFY(h.server->Listen());
        QStringList addresses;
        QObject::connect(&h.events.bus, &kv::events::ServerEvents::loggedIn, &h.events.bus,
                         [&](const kv::events::SessionInfo& s) { addresses << s.address; });
        const ClientRun r = h.python(R"(
f = login(); print(f.sendcmd('PASV')[:37]); print(fetch(f, 'RETR a.txt'))
print(f.sock.getpeername()[0])
six = ftplib.FTP(); six.connect('::1', PORT, timeout=20); six.login('alice', 'secret')
print(fetch(six, 'RETR a.txt'))
)");
        QCOMPARE(outputOf(r), QStringList({"227 Entering Passive Mode (127,0,0,1,", "b'small'",
                                           "127.0.0.1", "b'small'", ""}));
        QCOMPARE(addresses, QStringList({"127.0.0.1", "::1"}));
    }

    void scriptedSession_data() {
        // "command => start of its final reply line"; the command is a Python bytes literal
        // (\x escapes stand for any byte), CR LF follows unless it ends in a bare \n.
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QStringList>("exchange");
        QTest::addColumn<QStringList>("calls"); // events after the login
        QTest::addColumn<QString>("rights");    // the letters the login grants
        QTest::addColumn<int>("modeAfter");     // of a.txt, which starts as 0644
        const auto row = [](const char* name, bool loggedIn, const QStringList& exchange,
                            const QStringList& calls = {}, const QString& rights = u"RWDBM"_s,
                            int modeAfter = 0644) {
            QTest::newRow(name) << loggedIn << exchange << calls << rights << modeAfter;
        };
        row("wrong password", false,
            {"USER alice => 331 Password required for alice.", "PASS nope => 530 Login incorrect",
             "PWD => 530 Please login with USER and PASS."},
            {"LoginRequest alice"});
        row("pass before user", false,
            {"PASS x => 503 Login with USER first", "LIST => 530 Please login with USER and PASS.",
             "RETR => 530 Please login with USER and PASS.", "SYST => 215 UNIX Type: L8",
             "QUIT => 221 Goodbye."});
        row("login again", true,
            {"USER bob => 520 Cannot re-register", "PASS x => 230 Already logged in.",
             "PWD => 257 \"/\" is current directory.", "XPWD => 257 \"/\""});
        row("unusable lines", true,
            {QString(10000, u'X') + " => 500 Command line too long.",
             "CWD a\\x00b => 501 Syntax error in parameters",
             "MKD \\xc3\\x28 => 501 Syntax error in parameters",
             " => 500 '': command not understood.", "NO\\x01OP => 501 Syntax error in parameters",
             "\\xff\\xf4\\xff\\xf2NOOP => 200 NOOP",
             "MKD caff\\xc3\\xa8 => 257 \"/caffè\" directory created",
             "MKD => 501 Syntax error - MKD need more arguments",
             "FROB x => 500 'FROB': command not understood."});
        row("informational", true,
            {"SYST => 215 UNIX Type: L8", "TYPE I => 200 Type set to I",
             "TYPE L 8 => 200 Type set to L 8",
             "TYPE X => 504 TYPE not recognized. Use ASCII, IMAGE, BINARY or L8",
             "MODE S => 200 MODE command successful",
             "MODE B => 504 Only stream mode is supported.",
             "STRU R => 504 Only file structure is supported.",
             "HELP => 211 Kestrova Simple FTP Server v1.0.", "FEAT => 211 End",
             "OPTS UTF8 ON => 200 UTF8 set to on", "OPTS MLSTX => 501 Option not understood.",
             "OPTS mlst size;Type;nonsense; => 200 MLST OPTS type;size;",
             "ACCT x => 202 Command not needed, ignored", "STAT => 211 End of status"});
        // What automation clients, cameras and mirroring tools send.
        row("cameras and scanners", true,
            {"CLNT Camera 1.0 => 200 CLNT command successful",
             "ALLO => 200 ALLO command successful", "ALLO 1000 => 200 ALLO command successful",
             "ALLO 1000 R 512 => 200",
             "ALLO 999999999999999999 => 452 Insufficient storage space: ",
             "ALLO x => 501 Syntax error in parameters", "ALLO -5 => 501", "ALLO +5 => 501",
             "AVBL => 213 ", "AVBL sub => 213 ", "AVBL a.txt => 550 a.txt: Not a directory.",
             "AVBL nothere => 550 nothere: No such file or directory.", "AVBL ../.. => 213 "});
        row("site chmod and help", true,
            {"SITE HELP => 214 End of SITE help.", "SITE help => 214",
             "SITE FROB x => 504 SITE FROB is not implemented.",
             "SITE CHMOD 4755 a.txt => 501 4755: Invalid mode; only permission bits 0-777",
             "SITE CHMOD 1777 sub => 501 1777: Invalid mode", "SITE CHMOD 2640 a.txt => 501",
             "SITE CHMOD u+x a.txt => 501 u+x: Invalid mode", "SITE CHMOD 8 a.txt => 501",
             "SITE CHMOD 644 => 501 Syntax error - SITE CHMOD need more arguments",
             "SITE CHMOD 644 nothere => 550 nothere: No such file or directory.",
             "SITE CHMOD 755 / => 550 Access denied", "SITE CHMOD 777 ../outside.txt => 550",
             "SITE CHMOD 700 sub => 200 SITE CHMOD command successful",
             "SITE chmod 0640 a.txt => 200 SITE CHMOD command successful"},
            {}, u"RWDBM"_s, 0640);
        // Which right each checksum, mode change and free space needs: the file
        // service's table. ALLO asks for the free space, yet needs no right.
        row("without the browse right", true,
            {"AVBL => 550 Access denied", "ALLO 5 => 200 ALLO command successful"}, {}, u"RWDM"_s);
        row("hash choices and refusals", true,
            {"OPTS HASH => 200 SHA-256", "OPTS HASH md5 => 200 MD5", "OPTS HASH => 200 MD5",
             "OPTS HASH SHA-512 => 501 SHA-512: Unsupported algorithm.", "OPTS HASH => 200 MD5",
             "HASH a.txt => 213 MD5 0-5 5d41402abc4b2a76b9719d911017c592 a.txt",
             "OPTS HASH crc32 => 200 CRC32", "HASH a.txt => 213 CRC32 0-5 3610a686 a.txt",
             "OPTS HASH SHA-1 => 200 SHA-1",
             "HASH a.txt => 213 SHA-1 0-5 aaf4c61ddcc5e8a2dabede0f3b482cd9aea9434d a.txt",
             // The X verbs name their algorithm, whatever OPTS HASH chose.
             "XSHA256 a.txt => 250 "
             "2CF24DBA5FB0A30E26E83B2AC5B9E29E1B161E5C1FA7425E73043362938B9824",
             "XMD5 a.txt => 250 5D41402ABC4B2A76B9719D911017C592", "XCRC a.txt => 250 3610A686",
             "HASH sub => 550 sub: Not a regular file.",
             "XSHA1 nothere => 550 nothere: No such file or directory.",
             "HASH ../outside.txt => 550", "HASH => 501 Syntax error - HASH need more arguments"});
        // A missing path is answered before any right is looked at.
        QStringList missing;
        for (const char* c :
             {"CWD", "DELE", "SIZE", "MDTM", "RMD", "RNFR", "MLST", "STAT", "RETR", "LIST"})
            missing << u"%1 nothere => 550 nothere: No such file or directory."_s.arg(c);
        for (const char* c : {"MKD", "STOR"})
            missing << u"%1 nothere/x => 550 nothere/x: No such file or directory."_s.arg(c);
        row("missing paths", true, missing);
        row("wrong kind of file", true,
            {"SIZE a.txt => 213 5", "DELE sub => 550 sub: Is a directory.",
             "RMD a.txt => 550 a.txt: Not a directory.", "CWD a.txt => 550 a.txt: Not a directory.",
             "MKD sub => 550 sub: File exists.", "RETR sub => 550 sub: Not a regular file.",
             "MFMT 20000101000000 a.txt => 213 Modify=20000101000000; /a.txt",
             "MDTM a.txt => 213 20000101000000"});
        row("folder commands in a folder", true,
            {"MKD " + QString(300, u'n') + " => 550 File name too long.",
             "CWD sub => 250 CWD command successful.",
             "MKD docs => 257 \"/sub/docs\" directory created", "CWD docs => 250",
             "CDUP => 250 CWD command successful.", "RMD docs => 250 RMD command successful.",
             "RNFR /a.txt => 350", "RNTO b.txt => 250 File/dir renamed to /sub/b.txt",
             "DELE b.txt => 250 delete command successful.", "PWD => 257 \"/sub\""},
            {}, u"RWDBM"_s, -1);
        row("rnto only right after rnfr", true,
            {"RNTO b.txt => 503 Bad sequence of commands: send RNFR first.",
             "RNFR a.txt => 350 Command OK - waiting for name", "NOOP => 200",
             "RNTO b.txt => 503 Bad sequence", "RNFR a.txt => 350",
             "RNTO b.txt => 250 File/dir renamed to /b.txt"},
            {}, u"RWDBM"_s, -1); // a.txt is gone
        // An offset past the end is refused before a data connection is needed, so
        // 554 shows the offset still applied and 425 that it was dropped.
        row("rest only for the next transfer", true,
            {"REST 99 => 350 Restarting at 99 - send STORE or RETRIEVE to initiate transfer",
             "TYPE I => 200", "RETR a.txt => 554 Restart offset 99 is beyond the end of the file.",
             "REST 99 => 350", "NOOP => 200", "RETR a.txt => 425 Can't build data connection",
             "REST 99 => 350", "CWD / => 250", "STOR a.txt => 425 Can't build data connection",
             "REST x => 501 Syntax error in parameters"});
        // Without rights every change answers 550 and changes nothing, even with a
        // passive listener waiting; listings and facts need no right.
        const auto deny = [](const char* c) {
            return QString::fromLatin1(c) + " => 550 Access denied";
        };
        row("no rights at all", true,
            {deny("CWD sub"), deny("MKD new"), deny("RMD sub"), deny("DELE a.txt"),
             "RNFR a.txt => 350", deny("RNTO b.txt"), "PASV => 227", deny("STOR a.txt"),
             deny("APPE a.txt"), deny("STOU"), deny("RETR a.txt"), deny("SITE CHMOD 777 a.txt"),
             deny("HASH a.txt"), deny("MFMT 20000101000000 a.txt"), "SIZE a.txt => 213 5",
             "MLST a.txt => 250"},
            {}, u""_s);
        // Nothing outside the root is reached by ".." or links; links inside are
        // followed as the setting says (other paths: the path tests).
        row("escapes", true,
            {"CWD ../../.. => 250", "PWD => 257 \"/\"", "SIZE outlink/outside.txt => 550",
             "CWD outlink => 550", "SIZE inlink => 213 5", "SIZE absinlink => 550"});
        // No FTP bounce: active connections only to the client, never below 1024.
        row("data addresses", true,
            {"PORT 192,0,2,7,200,10 => 500 Illegal PORT command.",
             "EPRT |1|127.0.0.2|40000| => 500 Illegal EPRT command.",
             "PORT 127,0,0,1,0,21 => 500 Illegal PORT command.",
             "EPRT |9|x|1| => 522 Network protocol not supported, use (1,2)",
             "PORT 1,2,3 => 501 Syntax error in parameters",
             "EPSV 2 => 522 Network protocol not supported, use (1)",
             "EPSV ALL => 200 EPSV ALL command successful.",
             "EPRT |1|127.0.0.1|40000| => 200 EPRT command successful"});
    }

    void scriptedSession() {
        QFETCH(bool, loggedIn);
        QFETCH(QStringList, exchange);
        QFETCH(QStringList, calls);
        QFETCH(QString, rights);
        EngineHarness h;
        h.write("root/a.txt", "hello");
        h.write("outside.txt", "TOP OUTSIDE");
        QVERIFY(::chmod(QFile::encodeName(h.path("root/a.txt")).constData(), 0644) == 0);
        const int outsideMode = modeOf(h.path("outside.txt"));
        const int rootMode = modeOf(h.path("root"));
        QDir().mkpath(h.path("root/sub"));
        QVERIFY(QFile::link(h.dir.path(), h.path("root/outlink")));
        QVERIFY(QFile::link("a.txt", h.path("root/inlink")));
        // An absolute link is never followed, even to the root's own files.
        QVERIFY(QFile::link(h.path("root/a.txt"), h.path("root/absinlink")));
        const QStringList before = snapshot(h.path("root"));
        h.events.rights = kv::files::Rights::fromLetters(rights);
        QVERIFY(h.start());
        if (loggedIn)
            exchange =
                QStringList{"USER alice => 331", "PASS secret => 230 User alice logged in."} +
                exchange;
        QString commands;
        for (const QString& e : std::as_const(exchange))
            commands += u"b'%1',"_s.arg(e.section(u" => "_s, 0, 0));
        const ClientRun r = h.python(u"LINES = [%1]\n"_s.arg(commands) + uR"(
s = socket.create_connection(('127.0.0.1', PORT), timeout=10); fh = s.makefile('rb')
rd = lambda: fh.readline().decode('utf-8', 'replace').rstrip('\r\n')
def reply(): # the last line of a reply; a multi-line one ends with "ddd "
    first = last = rd()
    while last and first[3:4] == '-' and not (last[:3] == first[:3] and last[3:4] == ' '): last = rd()
    return last
print(reply())
for line in LINES:
    s.sendall(line if line.endswith(b'\n') else line + b'\r\n'); print(reply())
)"_s);
        const QStringList out = outputOf(r);
        QCOMPARE(out.value(0), u"220 Kestrova Simple FTP Server ready."_s);
        QCOMPARE(out.size(), exchange.size() + 2);
        for (qsizetype i = 0; i < exchange.size(); ++i)
            QVERIFY2(out[i + 1].startsWith(exchange[i].section(u" => "_s, 1)),
                     qPrintable(exchange[i].left(60) + u" got "_s + out[i + 1]));
        QCOMPARE(h.events.calls, loggedIn ? QStringList{u"LoginRequest alice"_s} + calls : calls);
        QVERIFY(!r.out.contains(h.dir.path().toUtf8())); // no real path shown
        if (rights.isEmpty())
            QCOMPARE(snapshot(h.path("root")), before);
        QTEST(modeOf(h.path("root/a.txt")), "modeAfter");
        QCOMPARE(modeOf(h.path("outside.txt")), outsideMode);
        QCOMPARE(modeOf(h.path("root")), rootMode);
        QTRY_COMPARE(h.events.closedCount, 1); // the client just went away
        // The password never reaches the log.
        QVERIFY(!h.events.logLines.join(u'\n').contains(u"secret"_s));
        QVERIFY(h.events.logLines.contains(u"PASS ***"_s));
    }

    void listingsAndVirtualFolders() {
        EngineHarness h;
        h.write("root/d/f.txt", "12345");
        h.write("root/d/g.txt", "");
        h.write("root/d/h.bin", "");
        QDir().mkpath(h.path("root/sub"));
        h.write("elsewhere/shared.txt", "shared!");
        // NLST takes types from the folder itself; what only a stat tells (links, pipes)
        // must still come out as LIST has it.
        h.write("root/e/file", "x");
        QDir().mkpath(h.path("root/e/sub"));
        QVERIFY(QFile::link(h.path("root/e/file"), h.path("root/e/inside")));
        QVERIFY(QFile::link(h.path("nowhere"), h.path("root/e/dangling")));
        QCOMPARE(::mkfifo(QFile::encodeName(h.path("root/e/pipe")).constData(), 0600), 0);
        h.events.virtualDirs = {{"media", "", h.path("elsewhere")},
                                {"deep", h.path("root/sub"), h.path("elsewhere")}};
        QVERIFY(h.start());
        h.server->setDataLingerTime(2); // finished data connections half-close first
        const ClientRun r = h.python(R"(
f = login()
print(resp(f, 'MDTM d/f.txt')[:6], len(resp(f, 'MDTM d/f.txt')))
print(lines(f, 'LIST -la d')[0].split()[0][0], lines(f, 'NLST d/f.txt'))
print(f.nlst('d'), f.nlst('d/*.txt'), f.nlst('*.none'), [l.split()[-1] for l in lines(f, 'LIST d/f*')])
print(resp(f, 'STAT d').splitlines()[0], resp(f, 'STAT').splitlines()[-1])
print([l.split()[0][0] + ' ' + l.split()[-1] for l in lines(f, 'LIST')])
print(f.nlst('e'), [l.split()[-1] for l in lines(f, 'LIST e')])
print(fetch(f, 'RETR /media/shared.txt')); f.storbinary('STOR /sub/deep/up.bin', io.BytesIO(b'UP'))
print(resp(f, 'CWD /sub/deep')); print(sorted(f.nlst()))
print(resp(f, 'RMD /media')); print(resp(f, 'RNFR /media'))
for cmd in ('EPSV', 'PASV'): # a listing's opening reply names the passive mode
    reply = f.sendcmd(cmd)
    port = int(reply.split('|')[3]) if cmd == 'EPSV' else ftplib.parse227(reply)[1]
    conn = socket.create_connection(('127.0.0.1', port)); f.putcmd('LIST'); print(f.getresp())
    conn.recv(65536); conn.close(); f.voidresp()
)");
        QCOMPARE(outputOf(r),
                 QStringList(
                     {"213 20 18", "- ['d/f.txt']",
                      "['d/f.txt', 'd/g.txt', 'd/h.bin'] ['d/f.txt', 'd/g.txt'] [] ['f.txt']",
                      "213-Status of /d: 211 End of status", "['d d', 'd e', 'd media', 'd sub']",
                      "['e/dangling', 'e/file', 'e/inside', 'e/sub'] "
                      "['dangling', 'file', 'inside', 'sub']",
                      "b'shared!'", "250 CWD command successful.", "['shared.txt', 'up.bin']",
                      "550 Access denied", "550 Access denied",
                      "150 Data connection open for EPSV transfer.",
                      "150 Data connection open for PASV transfer.", ""}));
        QCOMPARE(h.read("elsewhere/up.bin"), QByteArray("UP"));
        QVERIFY(h.events.calls.contains("Upload /sub/deep/up.bin 2 complete"));
    }

    void dataConnectionsOnlyReachTheClient() {
        EngineHarness h;
        h.write("root/a.txt", "active data");
        QVERIFY(h.start());
        h.server->setLimits(EngineLimits{.dataConnectTimeoutMs = 500});
        const ClientRun r = h.python(R"(
f = login(); f.set_pasv(False); print(fetch(f, 'RETR a.txt'))
# A stranger connecting to the passive port is turned away; the client is not.
f.voidcmd('TYPE I'); host, port = f.makepasv()
thief = socket.socket(); thief.bind(('127.0.0.2', 0)); thief.settimeout(5)
thief.connect((host, port)); print(thief.recv(10))
mine = socket.create_connection((host, port)); f.sendcmd('RETR a.txt')
print(mine.recv(100)); mine.close(); print(f.voidresp())
# A connection left from an earlier PASV is not the one a transfer takes.
host, port = f.makepasv(); old = socket.create_connection((host, port))
host, again = f.makepasv(); new = socket.create_connection((host, again))
f.sendcmd('RETR a.txt'); print(again == port, old.recv(10), new.recv(100)); new.close()
print(f.voidresp())
# A client that never opens its data connection gets 425.
f.sendcmd('PASV'); print(f.sendcmd('RETR a.txt')[:3]); print(f.getline().strip())
)");
        QCOMPARE(outputOf(r),
                 QStringList({"b'active data'", "b''", "b'active data'", "226 Transfer complete.",
                              "True b'' b'active data'", "226 Transfer complete.", "150",
                              "425 Can't build data connection: Unknown connection.", ""}));
    }

    // A client that connects to its passive port about a second after the
    // answer (curl, having found the answer there before it looked) gets
    // its later PASV and EPSV answers no sooner than the set delay after the
    // command, and so does every later session from its address; the
    // commands right behind are answered after it, in order; a client gone
    // meanwhile costs nothing. Before that, answers leave at once.
    void passiveAnswersArePacedForLateLookers() {
        EngineHarness h;
        h.write("root/a.txt", "paced");
        QVERIFY(h.start());
        h.server->setLimits(EngineLimits{.passiveReplyDelayUs = 1'500'000});
        const ClientRun r = h.python(R"(
def answered(f, cmd):
    t = time.monotonic(); f.sock.sendall(cmd.encode() + b'\r\nNOOP\r\n')
    first = f.getresp(); waited = time.monotonic() - t
    return first, waited, f.getresp()[:3]
f = login(); f.voidcmd('TYPE I')
first, waited, noop = answered(f, 'EPSV'); print(first[:3], waited < 1.5, noop)
print(fetch(f, 'RETR a.txt'))
first, waited, noop = answered(f, 'EPSV'); print(first[:3], waited < 1.5, noop)
time.sleep(1.0); data = socket.create_connection(('127.0.0.1', int(first.split('|')[3])))
f.sendcmd('RETR a.txt'); print(data.recv(100)); data.close(); f.voidresp()
for cmd in ['PASV', 'EPSV']:
    first, waited, noop = answered(f, cmd); print(first[:3], waited >= 1.5, noop)
first, waited, noop = answered(login(), 'EPSV'); print('again', first[:3], waited >= 1.5, noop)
s = socket.create_connection(('127.0.0.1', PORT)); s.recv(100)
s.sendall(b'USER alice\r\nPASS secret\r\nEPSV\r\nQUIT\r\n'); s.close()
print(fetch(login(), 'NLST'))
)");
        QCOMPARE(outputOf(r), QStringList({"229 True 200", "b'paced'", "229 True 200", "b'paced'",
                                           "227 True 200", "229 True 200", "again 229 True 200",
                                           "b'a.txt\\r\\n'", ""}));
    }

    void passiveAddressBehindARouter() {
        EngineHarness h;
        h.write("root/a.txt", "through the router");
        QVERIFY(h.start());
        // 127.0.0.2 plays a client from the Internet; 127.0.0.1 one of the LAN.
        const QHostAddress outsider("127.0.0.2");
        h.server->setLocalClientCheck([outsider](const QHostAddress& a) { return a != outsider; });
        h.server->StopListening();
        QVERIFY(h.server->Listen());
        h.server->setPassive(PassiveSettings{0, 0, QHostAddress("203.0.113.9")});
        // When the client asks (by creating root/renew), the router's address
        // changes, as a new lookup of its name would find.
        QTimer renew;
        QObject::connect(&renew, &QTimer::timeout, [&h] {
            if (QFile::remove(h.path("root/renew")))
                h.server->setPassive(PassiveSettings{0, 0, QHostAddress("198.51.100.4")});
        });
        renew.start(20);
        const ClientRun r = h.python(R"(
lan = login(); print(lan.sendcmd('PASV').split('(')[1][:10])
out = ftplib.FTP(source_address=('127.0.0.2', 0)); out.connect('127.0.0.1', PORT, timeout=20)
out.login('alice', 'secret'); print(out.sendcmd('PASV').split('(')[1][:12])
# ftplib connects to the control connection's host, as through a router.
print(fetch(out, 'RETR a.txt')); print(out.sendcmd('EPSV')[:3])
# An open session names the new address from then on.
ask('renew')
print(out.sendcmd('PASV').split('(')[1][:13], lan.sendcmd('PASV').split('(')[1][:10])
)");
        QCOMPARE(outputOf(r), QStringList({"127,0,0,1,", "203,0,113,9,", "b'through the router'",
                                           "229", "198,51,100,4, 127,0,0,1,", ""}));
    }

    void connectionsWaitOutAFullDescriptorTable() {
        // A data connection and a new client arrive while the process may open no
        // descriptor; once it may again, the queued data connection carries the
        // file and the client is greeted: the server keeps accepting.
        EngineHarness h;
        h.write("root/a.txt", "after the squeeze");
        QVERIFY(h.start());
        h.squeezeDescriptorsOn("full");
        const ClientRun r = h.python(R"(
f = login(); f.voidcmd('TYPE I'); host, port = ftplib.parse227(f.sendcmd('PASV'))
ask('full')
d = socket.create_connection(('127.0.0.1', port), timeout=20)
s = socket.create_connection(('127.0.0.1', PORT), timeout=20); time.sleep(0.8)
f.putcmd('RETR a.txt')
print(f.getresp()[:3], d.makefile('rb').read(), f.getresp()[:3])
print(s.makefile('rb').readline()[:3], login().sendcmd('NOOP')[:3])
)");
        QCOMPARE(outputOf(r).join(u'|'), u"150 b'after the squeeze' 226|b'220' 200|"_s);
    }

    void restartAsciiAndUniqueNames() {
        EngineHarness h;
        h.write("root/r.bin", "0123456789");
        h.write("root/partial.bin", "abcdeXXXX");
        h.write("root/unix.txt", "one\ntwo\r\nthree\n");
        // More than the socket takes at once: the download must wait for room.
        h.write("root/long.txt", QByteArray("abc\n").repeated(2 * 1024 * 1024));
        QVERIFY(h.start());
        const ClientRun r = h.python(R"(
f = login(); f.voidcmd('TYPE I')
buf = io.BytesIO(); f.retrbinary('RETR r.bin', buf.write, rest=4); print(buf.getvalue())
f.storbinary('STOR partial.bin', io.BytesIO(b'fgh'), rest=5)
f.storbinary('APPE partial.bin', io.BytesIO(b'ij'))
print(f.storbinary('STOU', io.BytesIO(b'unique'))); f.storbinary('STOU', io.BytesIO(b'again'))
print(repr(fetch(f, 'RETR unix.txt')))
f.voidcmd('TYPE A')
c = f.transfercmd('RETR unix.txt'); print(repr(c.makefile('rb').read())); c.close(); f.voidresp()
c = f.transfercmd('RETR long.txt'); __import__('time').sleep(0.3); d = c.makefile('rb').read()
c.close(); f.voidresp(); print(len(d), d.count(b'abc\r\n'))
c = f.transfercmd('STOR dos.txt'); c.sendall(b'a\r\nb\r\n\r\nc\rd\r'); c.close(); f.voidresp()
)");
        QCOMPARE(outputOf(r),
                 QStringList({"b'456789'", "226 Transfer complete.", "b'one\\ntwo\\r\\nthree\\n'",
                              "b'one\\r\\ntwo\\r\\nthree\\r\\n'", "10485760 2097152", ""}));
        const std::pair<const char*, const char*> files[] = {{"partial.bin", "abcdefghij"},
                                                             {"upload", "unique"},
                                                             {"upload.1", "again"},
                                                             {"dos.txt", "a\nb\n\nc\rd\r"}};
        for (const auto& [file, content] : files)
            QCOMPARE(h.read(u"root/"_s + file), QByteArray(content));
    }

    void passivePortKeptBetweenTransfers() {
        EngineHarness h;
        h.write("root/a.txt", "small");
        h.write("root/big.bin", QByteArray(48 * 1024 * 1024, 'z'));
        QVERIFY(h.start());
        const ClientRun r = h.python(R"(
f = login(); f.voidcmd('TYPE I')
host, port = f.makepasv(); print(f.makepasv()[1] == port)
print(fetch(f, 'RETR a.txt'), fetch(f, 'RETR a.txt'), f.makepasv()[1] == port)
# Between transfers the open port turns every connection away.
fetch(f, 'RETR a.txt'); s = socket.create_connection((host, port)); s.settimeout(5)
print(s.recv(10)); s.close()
# ABOR stops a transfer either way; the same port serves the next one.
conn = f.transfercmd('RETR big.bin'); conn.recv(65536); f.putcmd('ABOR'); conn.close()
print(f.getline()); print(f.getline()); print(resp(f, 'NOOP'))
print(fetch(f, 'RETR a.txt'), f.makepasv()[1] == port)
conn = f.transfercmd('STOR up.bin'); conn.sendall(b'u' * 100000)
f.putcmd('ABOR'); time.sleep(0.5); conn.close()
print(f.getline()); print(f.getline()); print(resp(f, 'ABOR'))
print(fetch(f, 'RETR a.txt'))
# PORT closes the passive port.
f.set_pasv(False); print(fetch(f, 'RETR a.txt'))
import errno; print('closed' if socket.socket().connect_ex((host, port)) == errno.ECONNREFUSED else 'open')
)");
        QCOMPARE(outputOf(r),
                 QStringList({"True", "b'small' b'small' True", "b''",
                              "426 Data connection closed. File transfer /big.bin aborted.",
                              "226 Aborted OK", "200 NOOP command successful", "b'small' True",
                              "426 Data connection closed. File transfer /up.bin aborted.",
                              "226 Aborted OK", "226 Aborted OK", "b'small'", "b'small'", "closed",
                              ""}));
        const QStringList download = h.events.calls.filter("Download /big.bin ");
        QVERIFY(download.size() == 1 && download.first().endsWith(" aborted"));
        const QStringList upload = h.events.calls.filter("Upload /up.bin ");
        QVERIFY(upload.size() == 1 && upload.first().endsWith(" aborted"));
    }

    // A download the client drops halfway (a reset, as when a program is
    // killed) is logged as incomplete with the reason in Italian, as every
    // line the log shows.
    void aDroppedTransferSaysWhyInItalian() {
        EngineHarness h;
        h.write("root/big.bin", QByteArray(48 * 1024 * 1024, 'z'));
        QVERIFY(h.start());
        const ClientRun r = h.python(R"(
f = login(); f.voidcmd('TYPE I')
conn = f.transfercmd('RETR big.bin'); conn.recv(65536)
conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b'\x01\0\0\0\0\0\0\0'); conn.close()
try: print(f.getresp()[:3])
except ftplib.all_errors as e: print(str(e)[:3])
)");
        QCOMPARE(outputOf(r).value(0), u"426"_s);
        const QString why = u"incompleto (il client ha chiuso la connessione)"_s;
        QTRY_COMPARE(h.events.logLines.filter(u"Download /big.bin: "_s).size(), 1);
        QCOMPARE(h.events.logLines.filter(u"Download /big.bin: "_s).first().section(u", "_s, 1),
                 why);
    }

    void failedWriteKeepsWhatArrived() {
        // A file size limit makes the disk refuse writes past 1 MiB, as a full disk would.
        EngineHarness h;
        QVERIFY(h.start());
        h.server->setDebugMode(1);
        struct rlimit old {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const struct rlimit small { 1 << 20, old.rlim_max };
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const ClientRun r = h.python(R"(
f = login(); f.voidcmd('TYPE I')
c = f.transfercmd('STOR big.bin')
try: c.sendall(b'x' * 3000000)
except OSError: pass # the server may drop the data connection first
c.close()
try: print(f.voidresp())
except ftplib.all_errors as e: print(e)
print(resp(f, 'NOOP'))
)");
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(r.out.contains("452 Transfer aborted: insufficient storage space."),
                 r.out.constData());
        QVERIFY2(r.out.contains("200 NOOP"), r.out.constData()); // the session goes on
        QCOMPARE(h.read("root/big.bin").size(), 1 << 20);
        // The log says how much of the file is kept for a resumed upload.
        const char* kept = "file parziale di 1048576 byte conservato";
        QCOMPARE(h.events.logLines.filter("Upload /big.bin: ").filter(kept).size(), 1);
        QVERIFY(h.events.calls.last().startsWith("Upload /big.bin "));
        QVERIFY(h.events.calls.last().endsWith(" failed"));
        // Debug mode adds data-connection detail to the log.
        QVERIFY(!h.events.logLines.filter("porta dati passiva").isEmpty());
    }

    void timeOutsEndIdleSessionsAndStalledTransfers() {
        // A session that sends nothing ends a time-out after it connected; a
        // command shortly before the time-out moves it: the session ends a full
        // time-out after that command. The server's time-out changed meanwhile is
        // for later sessions; these keep the one they started with. A download
        // nobody reads and an upload that sends nothing hold their session no
        // longer than its time-out.
        EngineHarness h;
        QVERIFY(h.start());
        h.server->setTimeout(2);
        QObject::connect(&h.events.bus, &kv::events::ServerEvents::loggedIn, &h.events.bus,
                         [&h] { h.server->setTimeout(1); });
        QFile big(h.path(u"root/big.bin"_s));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(64) << 20));
        big.close();
        const ClientRun r = h.python(R"(
def end(f):
    try: return f.getresp()
    except ftplib.all_errors as e: return str(e)
quiet = socket.create_connection(('127.0.0.1', PORT), timeout=10); start = time.time()
f = login(); time.sleep(1.6); t = time.time(); print(resp(f, 'NOOP'))
print(quiet.makefile('rb').read().decode().splitlines()[-1], 1.8 < time.time() - start < 5)
print(end(f)); print(1.8 < time.time() - t < 6)
g = login(); g.voidcmd('TYPE I'); t = time.time()
held = g.transfercmd('RETR big.bin')
print(end(g)); print(time.time() - t < 6); print(resp(g, 'NOOP'))
quiet = g.transfercmd('STOR quiet.bin')
print(end(g)); print(resp(g, 'NOOP'))
)");
        const QString timeout = u"421 Timeout (2 seconds): closing control connection."_s;
        QCOMPARE(outputOf(r),
                 QStringList({"200 NOOP command successful", timeout + " True", timeout, "True",
                              "426 Data connection closed. File transfer /big.bin aborted.", "True",
                              "200 NOOP command successful",
                              "426 Data connection closed. File transfer /quiet.bin aborted.",
                              "200 NOOP command successful", ""}));
        QCOMPARE(h.events.logLines.filter("nessun dato trasferito per 1 secondi").size(), 2);
        QTRY_COMPARE(h.events.closedCount, 3);
    }

    void loginsShareFoldersAndAreClosedOnce() {
        // Each further login to the same root and virtual folder holds its
        // control socket and nothing more: the folders are shared. Closed by
        // the program, each session is reported once, the client's going
        // away afterwards included.
        EngineHarness h;
        QDir().mkpath(h.path("root"));
        QDir().mkpath(h.path("elsewhere"));
        h.events.virtualDirs = {{"media", "", h.path("elsewhere")}};
        QVERIFY(h.start());
        const auto openDescriptors = [] {
            return QDir(u"/proc/self/fd"_s)
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                .size();
        };
        QProcess& client = h.background(R"(
fs = []
for i in range(4): fs.append(login()); print('in', flush=True); sys.stdin.readline()
time.sleep(30)
)");
        QList<qsizetype> counts;
        for (int i = 0; i < 4; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(client.canReadLine(), 20000); // one more logged in
            QCOMPARE(client.readLine(), QByteArray("in\n"));
            counts << openDescriptors();
            client.write("\n");
        }
        // The first login opened the folders; the later ones added a socket each.
        QCOMPARE(counts.at(2) - counts.at(1), 1);
        QCOMPARE(counts.at(3) - counts.at(2), 1);
        // Disconnect() from the program and StopListening() close them.
        const QList<kv::session::ConnectionObject*> conns = h.server->Connections();
        QCOMPARE(conns.size(), 4);
        conns.first()->Disconnect();
        QTRY_COMPARE(h.events.closedCount, 1);
        QCOMPARE(h.server->Connections(), conns.mid(1)); // arrival order kept
        h.server->StopListening();
        QCOMPARE(h.events.closedCount, 4);
        QVERIFY(h.server->Connections().isEmpty() && !h.server->isListening());
        client.kill();
        client.waitForFinished(5000);
        QTest::qWait(50);
        QCOMPARE(h.events.closedCount, 4);
    }

    // A refused login leaves its reason on the connection, for the online
    // list; an accepted one takes it off.
    void aRefusedLoginKeepsItsReason() {
        EngineHarness h;
        QVERIFY(h.start());
        QProcess& client = h.background(R"(
f = ftplib.FTP(); f.connect('127.0.0.1', PORT, timeout=20)
print(resp(f, 'USER alice'), resp(f, 'PASS nope'), flush=True); sys.stdin.readline()
print(resp(f, 'USER alice'), resp(f, 'PASS secret'), flush=True); time.sleep(30)
)");
        QTRY_VERIFY_WITH_TIMEOUT(client.canReadLine(), 20000);
        QVERIFY(client.readLine().contains("530"));
        QCOMPARE(h.server->Connections().size(), 1);
        QCOMPARE(h.server->Connections().first()->LoginRefusal(), u"password errata"_s);
        client.write("\n");
        QTRY_VERIFY_WITH_TIMEOUT(client.canReadLine(), 20000);
        QVERIFY(client.readLine().contains("230"));
        QCOMPARE(h.server->Connections().first()->LoginRefusal(), QString());
    }

    void activityCountsWhatTransfersMoved() {
        EngineHarness h;
        h.write("root/big.bin", QByteArray(32 << 20, 'b'));
        QVERIFY(h.start());
        QProcess& client = h.background(R"(
f = login(); f.voidcmd('TYPE I'); s = f.transfercmd('RETR big.bin')
s.recv(1000); print('reading', flush=True); sys.stdin.readline()
while s.recv(1 << 20): pass
s.close(); f.voidresp(); f.storbinary('STOR up.bin', io.BytesIO(b'u' * 300000))
print(len(fetch(f, 'NLST')), flush=True); time.sleep(30)
)");
        // Mid-download (the client stopped reading): the file, its size, what went so far.
        QTRY_VERIFY_WITH_TIMEOUT(client.canReadLine(), 20000);
        QCOMPARE(h.server->Connections().size(), 1);
        kv::session::TransferActivity a = h.server->Connections().first()->Activity();
        QCOMPARE(std::tuple(a.direction, a.path, a.size, a.sentTotal),
                 std::tuple(kv::session::TransferActivity::Direction::Download, u"/big.bin"_s,
                            qint64(32 << 20), a.bytes));
        QVERIFY2(a.bytes > 0 && a.bytes < a.size, QByteArray::number(a.bytes).constData());
        client.readLine();
        client.write("\n");
        // The transfers and a listing ended: nothing running, the totals kept,
        // the listing's bytes counted with the download's.
        QTRY_VERIFY_WITH_TIMEOUT(client.canReadLine(), 20000);
        const qint64 listed = client.readLine().trimmed().toLongLong();
        QVERIFY(listed > 0);
        a = h.server->Connections().first()->Activity();
        QCOMPARE(std::tuple(a.direction, a.sentTotal, a.receivedTotal),
                 std::tuple(kv::session::TransferActivity::Direction::None,
                            qint64(32 << 20) + listed, qint64(300000)));
    }
};

QTEST_GUILESS_MAIN(TestFtpServer)
#include "test_ftpserver.moc"
