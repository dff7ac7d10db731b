// FTPS through the engine's TLS streams, driven by real clients on
// loopback: the data connection bound to its client's sessions, the
// replies of AUTH/PBSZ/PROT and the required mode, and clients that
// misbehave (curl and lftp moving files: the end-to-end suite).

#include "tests/support/DataRow.h"
#include "tests/support/EngineHarness.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

using namespace kv::ftp;
using namespace Qt::StringLiterals;

namespace {

QByteArray randomBytes(qsizetype n) {
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(b.data()), n / 4);
    return b;
}

} // namespace

class TestTlsSocket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dataConnectionMustResumeASessionOfItsClient() {
        // ftplib's FTP_TLS starts a fresh session on every data connection.
        for (const bool reuse : {true, false}) {
            EngineHarness h;
            h.tls = h.tlsWith(TlsMode::On, reuse);
            h.events.accounts.insert(u"bob"_s, u"pw"_s);
            QVERIFY(h.start());
            h.write(u"root/a.txt"_s, "hello tls\n");
            const ClientRun r = h.python(uR"(
f = tlslogin(); print(attempt(f, 'RETR a.txt'))
shared = tls_context(); g = tlslogin(cls=ReuseFTP, ctx=shared)
print(attempt(g, 'RETR a.txt'), attempt(g, 'RETR a.txt'), attempt(g, 'NLST'))
# A fresh ticket comes before every PASV/EPSV/PORT reply.
ids = [g.sock.session.id]
for cmd in ['PASV', 'EPSV', 'PORT 127,0,0,1,200,1']: g.sendcmd(cmd); ids.append(g.sock.session.id)
print(len(set(ids)))
# PORT: the server connects and is still the TLS server.
g.set_pasv(False); print(attempt(g, 'RETR a.txt')); g.set_pasv(True)
# One session cache for many control connections (rclone): the same account
# from the same address may resume another control connection's session, in
# either direction; another account, or the same one from elsewhere, may not.
same = tlslogin(cls=ReuseFTP, ctx=shared); same.borrow = g
print(attempt(same, 'RETR a.txt')); g.borrow = same; print(attempt(g, 'RETR a.txt'))
g.borrow = None
bob = tlslogin('bob', 'pw', cls=ReuseFTP, ctx=shared); bob.borrow = g
print(attempt(bob, 'RETR a.txt'))
far = ReuseFTP(context=shared); far.connect('127.0.0.1', PORT, timeout=20, source_address=('127.0.0.2', 0))
far.auth(); far.login('alice', 'secret'); far.prot_p(); far.borrow = g
print(attempt(far, 'RETR a.txt'))
far.borrow = bob.borrow = None; print(attempt(far, 'RETR a.txt'), attempt(bob, 'RETR a.txt'), attempt(g, 'RETR a.txt'))
)"_s);
            QCOMPARE(
                outputOf(r).join(u'|'),
                reuse
                    ? u"425|ok 10 ok 10 ok 7|4|ok 10|ok 10|ok 10|425|425|ok 10 ok 10 ok 10|"_s
                    : u"ok 10|ok 10 ok 10 ok 7|4|ok 10|ok 10|ok 10|ok 10|ok 10|ok 10 ok 10 ok 10|"_s);
            if (reuse)
                QVERIFY(h.events.logLines.contains(
                    u"425 TLS session of data connection not resumed."_s));
        }
    }

    void ticketsComeOnlyOnTheControlConnection_data() {
        // Tickets the control connection holds after the login and after each of five
        // transfers; then those seen on all data connections (resumed and fresh).
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expected");
        // TLS 1.3: none before the login for a client that goes on at once
        // after the handshake (they would name no account), one before
        // every data command.
        addRow("TLS 1.3", u"TLSv1_3"_s, u"0 1 2 3 4 5 data 0"_s);
        // TLS 1.2: the handshake's one ticket; resuming renews none.
        addRow("TLS 1.2", u"TLSv1_2"_s, u"1 1 1 1 1 1 data 0"_s);
    }

    void ticketsComeOnlyOnTheControlConnection() {
        QFETCH(QString, version);
        EngineHarness h;
        h.tls = h.tlsWith(TlsMode::On, false);
        QVERIFY(h.start());
        h.write(u"root/a.txt"_s, "hello tls\n");
        // Every NewSessionTicket the client decrypts, with the connection it came on.
        const ClientRun r = h.python(uR"(
ctx = tls_context(ssl.TLSVersion.%1); seen = []
def on_message(conn, direction, version, content, kind, data):
    if (direction == 'read' and content == ssl._TLSContentType.HANDSHAKE
            and kind == ssl._TLSMessageType.NEWSESSION_TICKET):
        seen.append(conn)
ctx._msg_callback = on_message
g = tlslogin(cls=ReuseFTP, ctx=ctx); g.voidcmd('NOOP')
counts = [sum(c is g.sock for c in seen)]
for cmd in ['RETR a.txt', 'NLST', 'RETR a.txt', 'MLSD', 'RETR a.txt']:
    assert attempt(g, cmd).startswith('ok')
    counts.append(sum(c is g.sock for c in seen))
fresh = tlslogin(ctx=ctx); assert attempt(fresh, 'RETR a.txt').startswith('ok')
print(' '.join(map(str, counts)), 'data', sum(c not in (g.sock, fresh.sock) for c in seen))
)"_s.arg(version));
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QTEST(outputOf(r).value(0), "expected");
    }

    void aSessionFromBeforeTheLoginIsItsClientsOwn_data() {
        // A client that waits after the handshake (wget) gets a session from
        // before its login and resumes it on every data connection of that
        // control connection; another account, another address, or a control
        // connection not logged in (or gone) may not use it. A client that
        // goes on at once holds none from before its login under TLS 1.3.
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expected");
        addRow("TLS 1.3", u"TLSv1_3"_s, u"True ok 10 ok 10|425|425|ok 10|425|425|False|"_s);
        addRow("TLS 1.2", u"TLSv1_2"_s, u"True ok 10 ok 10|425|425|ok 10|425|425|True|"_s);
    }

    void aSessionFromBeforeTheLoginIsItsClientsOwn() {
        QFETCH(QString, version);
        EngineHarness h;
        h.tls = h.tlsWith(TlsMode::On);
        h.events.accounts.insert(u"bob"_s, u"pw"_s);
        QVERIFY(h.start());
        h.write(u"root/a.txt"_s, "hello tls\n");
        const ClientRun r = h.python(uR"(
import types
ctx = tls_context(ssl.TLSVersion.%1)
def held(session): return types.SimpleNamespace(sock=types.SimpleNamespace(session=session))
def early(user='alice', source=None, wait=0.15, password=None):
    f = ReuseFTP(context=ctx)
    f.connect('127.0.0.1', PORT, timeout=20, source_address=(source, 0) if source else None)
    f.auth(); time.sleep(wait); f.sendcmd('USER ' + user); mine = f.sock.session
    if password: f.sendcmd('PASS ' + password); f.prot_p(); f.borrow = held(mine)
    return f, mine
own, first = early(password='secret')
print(first.has_ticket, attempt(own, 'RETR a.txt'), attempt(own, 'RETR a.txt'))
for user, password, source in [('bob', 'pw', None), ('alice', 'secret', '127.0.0.2'), ('alice', 'secret', None)]:
    other, _ = early(user, source, password=password); other.borrow = held(first)
    print(attempt(other, 'RETR a.txt'))
half, unlogged = early(); other.borrow = held(unlogged); print(attempt(other, 'RETR a.txt'))
own.quit(); other.borrow = held(first); print(attempt(other, 'RETR a.txt'))
quick, session = early(wait=0); print(session.has_ticket)
)"_s.arg(version));
        QTEST(outputOf(r).join(u'|'), "expected");
    }

    void dataHandshakeIsAnsweredBeforeItsCommand() {
        // curl waits for the data connection's handshake before it sends
        // the transfer's command. A handshake that fails, or a protection
        // level changed after the connection was made, fails the transfer
        // when it comes; the next one is served.
        EngineHarness h;
        h.tls = h.tlsWith(TlsMode::On);
        QVERIFY(h.start());
        h.write(u"root/a.txt"_s, "hello tls\n");
        const ClientRun r = h.python(uR"(
def answers(f, cmd): # the codes of the replies to `cmd`, up to its final one
    f.putcmd(cmd); codes = []
    while not codes or codes[-1].startswith('1'):
        try: codes.append(f.getresp()[:3])
        except ftplib.all_errors as e: codes.append(str(e)[:3])
    return ' '.join(codes)
g = tlslogin(cls=ReuseFTP); g.voidcmd('TYPE I')
raw = socket.create_connection(g.makepasv(), timeout=5)
try: conn = g.context.wrap_socket(raw, server_hostname='x', session=g.sock.session); print('answered')
except (socket.timeout, ssl.SSLError) as e: print('not answered', e); raise SystemExit
g.putcmd('RETR a.txt'); print(g.getresp()[:3], conn.recv(100)); conn.unwrap(); print(g.voidresp()[:3])
bad = socket.create_connection(g.makepasv()); bad.sendall(b'no handshake\r\n' * 40); time.sleep(0.3)
print(answers(g, 'RETR a.txt'))
raw = socket.create_connection(g.makepasv())
conn = g.context.wrap_socket(raw, server_hostname='x', session=g.sock.session)
g.voidcmd('PROT C'); print(answers(g, 'RETR a.txt')); g.voidcmd('PROT P')
print(attempt(g, 'RETR a.txt'))
)"_s);
        QCOMPARE(outputOf(r).join(u'|'),
                 u"answered|150 b'hello tls\\n'|226|150 425|150 425|ok 10|"_s);
    }

    void replies_data() {
        // Lines sent in order; after a 234 reply the client starts TLS; "DATA x" runs x over a
        // clear data connection. Expected: the start of each reply; "~x" holds x, "!x" does not.
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const int off = int(TlsMode::Off), on = int(TlsMode::On), required = int(TlsMode::Required);
        addRow("off: not understood", off, u"AUTH TLS|PBSZ 0|PROT P|AUTH|CCC"_s,
               u"500 'AUTH': command not understood.|500 'PBSZ': command not understood."
               "|500 'PROT': command not understood.|500 'AUTH': command not understood."
               "|500 'CCC': command not understood."_s);
        addRow("off: FEAT and HELP keep quiet", off, u"FEAT|HELP"_s, u"!AUTH|!PBSZ"_s);
        addRow("on: FEAT and HELP", on, u"FEAT|HELP"_s,
               u"~ AUTH TLS  AUTH SSL  PBSZ  PROT 211 End|~ AUTH PBSZ PROT"_s);
        addRow(
            "on: order and levels", on,
            u"PBSZ 0|PROT P|AUTH KERBEROS|AUTH TLS|PBSZ 0|PROT S|PROT E|PROT X|PROT C|PROT P|AUTH TLS"_s,
            u"503 Bad sequence|503 Bad sequence|504 AUTH KERBEROS|234 AUTH TLS successful|200 "
            u"PBSZ=0"
            "|536|536|504|200 Protection level set to C|200 Protection level set to P|503 TLS is already"_s);
        addRow("on: PROT only after PBSZ, AUTH SSL", on, u"AUTH SSL|PROT P|PROT C|PBSZ 0|PROT P"_s,
               u"234 AUTH SSL successful|503 Bad sequence of commands: send PBSZ first.|503|200 "
               u"PBSZ=0"
               "|200 Protection level set to P"_s);
        addRow(
            "on: CCC refused, before and after AUTH", on,
            u"CCC|AUTH TLS|USER alice|PASS secret|CCC|PWD"_s,
            u"534 CCC denied|234|331|230|534 CCC denied: the control connection stays protected.|257"_s);
        addRow("on: AUTH starts the login again", on,
               u"USER alice|PASS secret|PWD|AUTH TLS|PWD|USER alice|PASS secret|PWD"_s,
               u"331|230|257|234|530 Please login|331|230 User alice logged in.|257"_s);
        addRow("on: clear logins and data still allowed", on, u"USER alice|PASS secret|DATA NLST"_s,
               u"331|230|ok 7"_s);
        addRow("required: named logins need TLS", required,
               u"USER alice|USER nobody|PASS x|USER Anonymous|PASS guest|DATA NLST"_s,
               u"530 TLS is required|530 TLS is required|530 TLS is required|331|230|ok 7"_s);
        addRow(
            "required: PROT C moves nothing", required,
            u"AUTH TLS|USER alice|PASS secret|PBSZ 0|PROT C|DATA RETR a.txt|DATA NLST|DATA MLSD|STOR new.txt|APPE new.txt|STOU|LIST"_s,
            u"234|331|230|200|200|522|522|522|522 Data connections must be encrypted.|522|522|522"_s);
    }

    void replies() {
        QFETCH(int, mode);
        QFETCH(QString, script);
        QFETCH(QString, expected);
        EngineHarness h;
        h.tls = h.tlsWith(TlsMode(mode));
        h.events.accounts.insert(u"Anonymous"_s, u"guest"_s);
        QVERIFY(h.start());
        h.write(u"root/a.txt"_s, "hello tls\n");
        const ClientRun r = h.python(uR"(
f = ftplib.FTP_TLS(context=tls_context()); f.connect('127.0.0.1', PORT, timeout=20)
for line in '''%1'''.split('|'):
    if line.startswith('DATA '): print(attempt(f, line[5:])); continue
    r = resp(f, line); print(r.replace('\n', ' '))
    if r.startswith('234'):
        f.sock = f.context.wrap_socket(f.sock); f.file = f.sock.makefile('r', encoding=f.encoding)
)"_s.arg(script));
        const QStringList got = outputOf(r);
        const QStringList want = expected.split(u'|');
        QCOMPARE(got.size(), want.size() + 1); // the last line ends the output
        for (qsizetype i = 0; i < want.size(); ++i) {
            const QString& w = want[i];
            const bool ok = w.startsWith(u'~')   ? got[i].contains(w.mid(1))
                            : w.startsWith(u'!') ? !got[i].contains(w.mid(1))
                                                 : got[i].startsWith(w);
            QVERIFY2(ok, qPrintable(got[i] + u" / "_s + w));
        }
        QVERIFY(!QFile::exists(h.path(u"root/new.txt"_s)));
    }

    void misbehavingClientsHarmNoOne() {
        EngineHarness h;
        h.tls = h.tlsWith(TlsMode::On, false);
        h.wantImplicit = true;
        QVERIFY(h.start());
        h.server->setLimits(EngineLimits{.tlsHandshakeTimeoutMs = 1500});
        h.write(u"root/a.txt"_s, "hello tls\n");
        h.write(u"root/big.bin"_s, randomBytes(32 * 1024 * 1024));
        const ClientRun r = h.python(uR"(
def closed(s): # True once the server has closed (whatever it sent before)
    s.settimeout(8)
    try:
        while s.recv(4096): pass
    except socket.timeout: return False
    except ConnectionResetError: pass
    return True
def client_hello():
    out = ssl.MemoryBIO()
    try: tls_context().wrap_bio(ssl.MemoryBIO(), out).do_handshake()
    except ssl.SSLWantReadError: return out.read()
ok = tlslogin()
# Garbage instead of a ClientHello, on the implicit port and after AUTH.
g = socket.create_connection(('127.0.0.1', %1)); g.sendall(b'USER alice\r\n' * 50)
print('garbage implicit closed', closed(g))
f = ftplib.FTP(); f.connect('127.0.0.1', PORT, timeout=20); f.sendcmd('AUTH TLS')
f.sock.sendall(b'USER alice\r\nPASS secret\r\n'); print('clear after AUTH closed', closed(f.sock))
# Half a handshake: the time limit closes it.
half = socket.create_connection(('127.0.0.1', %1)); hello = client_hello()
half.sendall(hello[:len(hello) // 2]); print('half handshake closed', closed(half))
# TLS 1.1 and lower are refused by the server.
import warnings; warnings.simplefilter('ignore')
old = tls_context(ssl.TLSVersion.TLSv1_1); old.set_ciphers('DEFAULT:@SECLEVEL=0')
try: print('TLS 1.1 accepted', old.wrap_socket(socket.create_connection(('127.0.0.1', %1))))
except ssl.SSLError as e: print('TLS 1.1 refused', 'VERSION' in str(e).upper())
# A download dropped halfway through.
d = tlslogin(); conn = d.transfercmd('RETR big.bin'); conn.recv(65536)
conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b'\x01\0\0\0\0\0\0\0'); conn.close()
try: print(d.getresp()[:3])
except ftplib.all_errors as e: print(str(e)[:3])
# An upload that ends without close_notify is still complete.
u = tlslogin(cls=ReuseFTP); conn = u.transfercmd('STOR raw.bin')
conn.sendall(b'x' * 100000); conn.close()
print(u.voidresp()[:3], os.path.getsize(ROOT + '/raw.bin'))
# Everyone else is still served, the first session included.
print(attempt(ok, 'RETR a.txt'), attempt(d, 'RETR a.txt'))
)"_s.arg(h.implicitPort));
        QCOMPARE(outputOf(r).join(u'|'),
                 u"garbage implicit closed True|clear after AUTH closed True"
                 "|half handshake closed True|TLS 1.1 refused True|426"
                 "|226 100000|ok 10 ok 10|"_s);
        QTRY_VERIFY(!h.events.logLines.filter(u"Download /big.bin: "_s).isEmpty());
        // The log says why in Italian, as every line it shows.
        QCOMPARE(h.events.logLines.filter(u"Download /big.bin: "_s).first().section(u", "_s, 1),
                 u"incompleto (il client ha chiuso la connessione)"_s);
    }

    void bigFilesArriveWhole() {
        // More than the kernel takes at once, with a client that waits before
        // reading: the records not sent straight away go through the socket's
        // queue, and everything ends before the close_notify alert.
        EngineHarness h;
        h.tls = h.tlsWith(TlsMode::On, false);
        QVERIFY(h.start());
        const QByteArray big = randomBytes(16 * 1024 * 1024 + 4097);
        h.write(u"root/big.bin"_s, big);
        const ClientRun r = h.python(uR"(
d = tlslogin(); d.voidcmd('TYPE I'); conn = d.transfercmd('RETR big.bin'); time.sleep(0.5)
got = hashlib.sha256(); n = 0
while True:
    b = conn.recv(1 << 20)
    if not b: break
    got.update(b); n += len(b)
conn.unwrap(); conn.close(); print(d.voidresp()[:3], n, got.hexdigest())
data = open(ROOT + '/big.bin', 'rb').read()
d.storbinary('STOR up.bin', io.BytesIO(data), 1 << 16); print('stored')
)"_s);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QString sha =
            QString::fromLatin1(QCryptographicHash::hash(big, QCryptographicHash::Sha256).toHex());
        QCOMPARE(outputOf(r).join(u'|'), u"226 %1 %2|stored|"_s.arg(big.size()).arg(sha));
        QFile up(h.path(u"root/up.bin"_s));
        QVERIFY(up.open(QIODevice::ReadOnly));
        QVERIFY(up.readAll() == big);
    }
};

QTEST_GUILESS_MAIN(TestTlsSocket)
#include "test_tlssocket.moc"
