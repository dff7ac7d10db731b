// What a running server tells the subscribers of its event bus: a session's
// life, its transfers in order with their progress, and refused logins with
// their reason, through real clients. The login bans on their own, with a
// clock the test moves: failures counted per address inside the window, the
// ban they start and its end, listing and lifting.

#include "session/LoginBans.h"
#include "tests/support/DataRow.h"
#include "tests/support/EngineHarness.h"

#include <QSignalSpy>
#include <QTest>

using namespace kv;
using kv::session::BanRules;
using kv::session::LoginBans;
using namespace Qt::StringLiterals;

namespace {

// Every event as one line, in the order they came.
struct Recorder {
    QStringList lines;
    QList<events::TransferEvent> transfers;
    QList<events::FileEvent> changes;
    QSet<quint64> sessions;

    explicit Recorder(events::ServerEvents& bus) {
        using E = events::ServerEvents;
        const auto session = [this](const char* what) {
            return [this, what](const events::SessionInfo& s) {
                sessions.insert(s.id);
                lines << u"%1 %2"_s.arg(QLatin1String(what), s.login);
            };
        };
        QObject::connect(&bus, &E::sessionOpened, session("opened"));
        QObject::connect(&bus, &E::loggedIn, session("loggedIn"));
        QObject::connect(&bus, &E::sessionClosed, session("closed"));
        const auto transfer = [this](const char* what) {
            return [this, what](const events::TransferEvent& t) {
                sessions.insert(t.session.id);
                transfers << t;
                if (t.kind != events::TransferKind::Listing)
                    lines << u"%1 %2"_s.arg(QLatin1String(what), t.clientPath);
            };
        };
        QObject::connect(&bus, &E::transferStarted, transfer("started"));
        QObject::connect(&bus, &E::transferProgress, transfer("progress"));
        QObject::connect(&bus, &E::transferFinished, transfer("finished"));
        QObject::connect(&bus, &E::loginFailed, [this](const events::LoginFailure& f) {
            lines << u"loginFailed %1: %2"_s.arg(f.login, f.reason);
        });
        QObject::connect(&bus, &E::fileChanged, [this](const events::FileEvent& c) {
            sessions.insert(c.session.id);
            changes << c;
            static const char* const kinds[] = {"deleted", "renamed", "folderMade",
                                                "folderRemoved"};
            lines << u"%1 %2%3"_s.arg(QLatin1String(kinds[int(c.change)]), c.clientPath,
                                      c.newClientPath.isEmpty() ? QString()
                                                                : " -> " + c.newClientPath);
        });
        QObject::connect(&bus, &E::addressBanned, [this](const events::AddressBan& b) {
            lines << u"banned %1 after %2"_s.arg(b.address).arg(b.attempts);
        });
    }
};

// Starts the server with bans after `failures` failed logins, for a minute.
bool startBanningAfter(EngineHarness& h, kv::session::LoginBans& bans, int failures) {
    bans.reset({failures, 60000, 60000});
    bans.setNotifications(&h.events.bus);
    if (!h.start())
        return false;
    h.server->admission().setBans(&bans);
    h.server->setAdmission(&h.server->admission());
    return true;
}

// "address attempts msLeft" of every ban, in the order listed.
QStringList listed(const LoginBans& bans) {
    QStringList out;
    for (const kv::session::BanEntry& b : bans.bans())
        out << u"%1 %2 %3"_s.arg(b.address).arg(b.attempts).arg(b.msLeft);
    return out;
}

} // namespace

class TestServerEvents : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void transfersComeInOrderWithTheirProgress() {
        EngineHarness h;
        constexpr int kSize = 16 << 20;
        h.write("root/docs/big.bin", QByteArray(kSize, 'b'));
        Recorder seen(h.events.bus);
        QVERIFY(h.start());
        // The client reads slowly (about 10 MiB/s), so the download lasts over a second.
        // Paths are told as the client sees them, from the folder it is in.
        const ClientRun r = h.python(uR"(
f = login(); f.cwd('docs'); f.voidcmd('TYPE I'); conn = f.transfercmd('RETR big.bin'); got = 0
while True:
    chunk = conn.recv(512 * 1024)
    if not chunk: break
    got += len(chunk); time.sleep(0.05)
conn.close(); print(got, f.voidresp()[:3])
f.storbinary('STOR up.bin', io.BytesIO(b'abc')); print(f.nlst()); f.quit()
)"_s);
        QCOMPARE(outputOf(r), QStringList({u"%1 226"_s.arg(kSize), "['big.bin', 'up.bin']", ""}));
        QTRY_VERIFY(seen.lines.endsWith("closed alice"));
        QStringList order = seen.lines;
        order.removeAll("progress /docs/big.bin");
        QCOMPARE(order, QStringList({"opened ", "loggedIn alice", "started /docs/big.bin",
                                     "finished /docs/big.bin", "started /docs/up.bin",
                                     "finished /docs/up.bin", "closed alice"}));
        QCOMPARE(seen.sessions.size(), 1);
        // Progress comes while the bytes move, growing, never past the file.
        qint64 last = 0;
        int progress = 0;
        for (const events::TransferEvent& t : std::as_const(seen.transfers)) {
            if (t.outcome != events::TransferOutcome::Running || t.clientPath != "/docs/big.bin" ||
                t.bytes == 0)
                continue;
            QCOMPARE_GE(t.bytes, last);
            QCOMPARE_LT(t.bytes, qint64(kSize));
            last = t.bytes;
            ++progress;
        }
        QCOMPARE_GE(progress, 1);
        const auto finished = [&](const QString& path) {
            for (const events::TransferEvent& t : std::as_const(seen.transfers))
                if (t.clientPath == path && t.outcome != events::TransferOutcome::Running)
                    return t;
            return events::TransferEvent{};
        };
        const events::TransferEvent down = finished("/docs/big.bin"), up = finished("/docs/up.bin");
        QCOMPARE(std::tuple(down.kind, down.outcome, down.bytes, down.size, down.diskPath),
                 std::tuple(events::TransferKind::Download, events::TransferOutcome::Complete,
                            qint64(kSize), qint64(kSize), h.path("root/docs/big.bin")));
        QCOMPARE(std::tuple(up.kind, up.bytes, up.diskPath, up.session.login, up.session.address),
                 std::tuple(events::TransferKind::Upload, qint64(3), h.path("root/docs/up.bin"),
                            u"alice"_s, u"127.0.0.1"_s));
        // The activity log tells commands, replies and transfer outcomes.
        for (const char* line :
             {"CWD docs", "226 Transfer complete.", "Upload /docs/up.bin: 3 byte, completo",
              "Download /docs/big.bin: 16777216 byte, completo"})
            QVERIFY2(h.events.logLines.contains(line), line);
    }

    // A finished upload tells the file's size as stored: the whole file after
    // APPE or a REST+STOR resume, the converted size after an ASCII upload;
    // a download tells none.
    void uploadsTellTheFileAsStored() {
        EngineHarness h;
        Recorder seen(h.events.bus);
        QVERIFY(h.start());
        const ClientRun r = h.python(uR"(
f = login(); f.voidcmd('TYPE I')
f.storbinary('STOR a.bin', io.BytesIO(b'12345'))
f.storbinary('APPE a.bin', io.BytesIO(b'678'))
f.storbinary('STOR b.bin', io.BytesIO(b'abcdefgh'))
f.storbinary('STOR b.bin', io.BytesIO(b'XY'), rest=3)
crlf = chr(13) + chr(10)
f.storlines('STOR c.txt', io.BytesIO(('one' + crlf + 'two' + crlf).encode()))
f.retrbinary('RETR a.bin', lambda d: None); f.quit(); print('ok')
)"_s);
        QCOMPARE(outputOf(r), QStringList({"ok", ""}));
        QTRY_VERIFY(seen.lines.endsWith("closed alice"));
        QStringList told;
        for (const events::TransferEvent& t : std::as_const(seen.transfers)) {
            if (t.outcome == events::TransferOutcome::Complete)
                told << u"%1 %2 %3"_s.arg(t.clientPath).arg(t.bytes).arg(t.fileSize);
        }
        QCOMPARE(told, QStringList({"/a.bin 5 5", "/a.bin 3 8", "/b.bin 8 8", "/b.bin 2 5",
                                    "/c.txt 10 8", "/a.bin 8 -1"}));
        QCOMPARE(h.read("root/b.bin"), QByteArray("abcXY"));
    }

    void failedLoginsBanTheAddressAfterTheCurrentReply() {
        // Failures are told with their reason; the ban closes the address's
        // sessions once what each is doing ends, and turns new ones away.
        kv::session::LoginBans bans; // outlives the server
        EngineHarness h;
        h.write("root/big.bin", QByteArray(32 * 1024 * 1024, 'b'));
        Recorder seen(h.events.bus);
        QVERIFY(startBanningAfter(h, bans, 2));
        const ClientRun r = h.python(uR"(
def client(source): f = ftplib.FTP(); f.connect('127.0.0.1', PORT, timeout=20, source_address=(source, 0)); return f
busy = client('127.0.0.2'); busy.login('alice', 'secret'); busy.voidcmd('TYPE I')
data = busy.transfercmd('RETR big.bin')  # left unread: the transfer waits for the client
guesser = client('127.0.0.2'); t = time.time()
for p in ('nope', 'wrong'):
    print(resp(guesser, 'USER alice'), resp(guesser, 'PASS ' + p))
print(time.time() - t >= 1.8, guesser.getline())
print(client('127.0.0.3').getwelcome())
s = socket.create_connection(('127.0.0.1', PORT), source_address=('127.0.0.2', 0)); print(s.recv(200))
got = 0
while chunk := data.recv(1 << 20): got += len(chunk)
data.close(); print(got, busy.getline()); print(busy.getline())
)"_s);
        const QString banned = "421 Too many failed logins from your address, try again later.";
        QCOMPARE(
            outputOf(r),
            QStringList({"331 Password required for alice. 530 Login incorrect",
                         "331 Password required for alice. 530 Login incorrect", "True " + banned,
                         "220 Kestrova Simple FTP Server ready.", "b'" + banned + "\\r\\n'",
                         "33554432 226 Transfer complete.", banned, ""}));
        QCOMPARE(seen.lines.filter("loginFailed"),
                 QStringList(
                     {"loginFailed alice: password errata", "loginFailed alice: password errata"}));
        QCOMPARE(seen.lines.filter("banned"), QStringList{"banned 127.0.0.2 after 2"});
        QCOMPARE(h.events.logLines.filter("Login rifiutato: password errata").size(), 2);
        QVERIFY(h.events.logLines.filter("nope").isEmpty() &&
                h.events.logLines.filter("wrong").isEmpty());
        QVERIFY(h.events.logLines.contains(
            "Indirizzo 127.0.0.2 bloccato temporaneamente dopo 2 accessi falliti"));
        QVERIFY(h.events.logLines.contains("Connessione da 127.0.0.2 rifiutata: indirizzo bloccato "
                                           "temporaneamente dopo troppi accessi falliti"));
    }

    void unreadableAccountsAreNoWrongPassword() {
        // A login that cannot be decided gets a temporary refusal and never
        // counts towards a ban, however often it happens.
        kv::session::LoginBans bans; // outlives the server
        EngineHarness h;
        Recorder seen(h.events.bus);
        h.events.accountsUnreadable = true;
        QVERIFY(startBanningAfter(h, bans, 1));
        const ClientRun r = h.python(uR"(
for i in range(3):
    f = ftplib.FTP(); f.connect('127.0.0.1', PORT, timeout=20)
    try: f.login('alice', 'secret')
    except ftplib.error_temp as e: print(e)
)"_s);
        QCOMPARE(outputOf(r), QStringList(3, "421 Service not available, try again later.") << "");
        QVERIFY(bans.bans().isEmpty());
        QVERIFY(seen.lines.filter("loginFailed").isEmpty());
        QCOMPARE(
            h.events.logLines.filter("Login non deciso: impossibile leggere gli account").size(),
            3);
    }

    void changesOnDiskAreTold() {
        // Only what changed is told, once, with the session it came from and
        // the client's and the disk's paths; refused commands, new times and
        // uploads (told as transfers) are not changes here.
        EngineHarness h;
        h.write("root/a.txt", "hello");
        Recorder seen(h.events.bus);
        QVERIFY(h.start());
        const ClientRun r = h.python(uR"(
f = login()
for line in ('MKD docs', 'MFMT 20000101000000 a.txt', 'RNFR a.txt', 'RNTO docs/b.txt',
             'DELE docs/b.txt', 'DELE missing', 'RMD docs', 'RMD docs', 'MKD /'):
    print(resp(f, line)[:3])
f.quit()
)"_s);
        QCOMPARE(outputOf(r),
                 QStringList({"257", "213", "350", "250", "250", "550", "250", "550", "550", ""}));
        QTRY_VERIFY(seen.lines.endsWith("closed alice"));
        QCOMPARE(seen.lines.mid(2, seen.lines.size() - 3),
                 QStringList({"folderMade /docs", "renamed /a.txt -> /docs/b.txt",
                              "deleted /docs/b.txt", "folderRemoved /docs"}));
        QCOMPARE(seen.sessions.size(), 1);
        QCOMPARE(seen.changes.at(0).diskPath, h.path("root/docs"));
        const events::FileEvent& renamed = seen.changes.at(1);
        QCOMPARE(std::tuple(renamed.diskPath, renamed.newDiskPath, renamed.session.login,
                            renamed.session.address),
                 std::tuple(h.path("root/a.txt"), h.path("root/docs/b.txt"), u"alice"_s,
                            u"127.0.0.1"_s));
    }

    void parallelGuessesStopAtTheBan() {
        // Nine wrong passwords and then the right one, sent at once on ten
        // connections: three failures ban the address, and nothing queued behind
        // them is decided any more, the right password included.
        kv::session::LoginBans bans; // outlives the server
        EngineHarness h;
        Recorder seen(h.events.bus);
        QVERIFY(startBanningAfter(h, bans, 3));
        const ClientRun r = h.python(uR"(
conns = [socket.create_connection(('127.0.0.1', PORT), timeout=10) for i in range(10)]
files = [c.makefile('rb') for c in conns]
for c, f in zip(conns, files):
    f.readline(); c.sendall(b'USER alice\r\n'); f.readline()
for i, c in enumerate(conns):
    c.sendall(b'PASS secret\r\n' if i == 9 else b'PASS wrong\r\n')
answers = [f.readline().decode()[:3] for f in files]
print(answers.count('530'), answers.count('421'), answers.count('230'))
)"_s);
        QCOMPARE(outputOf(r), QStringList({"3 7 0", ""}));
        QCOMPARE(seen.lines.filter("loginFailed").size(), 3);
        QCOMPARE(h.events.logLines.filter("Login rifiutato").size(), 3);
    }

    void init() { now_ = 0; }
    void bansCountFailuresInTheirWindow_data() {
        QTest::addColumn<int>("attempts");
        QTest::addColumn<qint64>("windowMs");
        QTest::addColumn<qint64>("banMs");
        QTest::addColumn<QList<qint64>>("failures"); // times of failed logins from one address
        QTest::addColumn<QList<int>>("banning");     // indexes of the failures that ban
        QTest::addColumn<qint64>("checkAt");
        QTest::addColumn<bool>("bannedThen");
        using T = QList<qint64>;
        using I = QList<int>;
        addRow("off", 0, 100LL, 100LL, T{0, 1, 2, 3, 4, 5, 6}, I{}, 7LL, false);
        addRow("below the limit", 3, 100LL, 100LL, T{0, 1}, I{}, 2LL, false);
        addRow("at the limit", 3, 100LL, 500LL, T{0, 1, 2}, I{2}, 3LL, true);
        addRow("one attempt bans", 1, 100LL, 500LL, T{7}, I{0}, 7LL, true);
        addRow("oldest left", 3, 100LL, 500LL, T{0, 50, 100}, I{}, 100LL, false);
        addRow("just inside", 3, 100LL, 500LL, T{0, 50, 99}, I{2}, 99LL, true);
        addRow("before the end", 2, 100LL, 1000LL, T{0, 1}, I{1}, 1000LL, true);
        addRow("the ban ends", 2, 100LL, 1000LL, T{0, 1}, I{1}, 1001LL, false);
        // Failures while banned neither extend the ban nor count for the next.
        addRow("while banned", 2, 1000LL, 100LL, T{0, 1, 50, 60, 102}, I{1}, 102LL, false);
        addRow("again after", 2, 1000LL, 100LL, T{0, 1, 102, 103}, I{1, 3}, 103LL, true);
    }

    void bansCountFailuresInTheirWindow() {
        QFETCH(int, attempts);
        QFETCH(qint64, windowMs);
        QFETCH(qint64, banMs);
        QFETCH(QList<qint64>, failures);
        QFETCH(QList<int>, banning);
        QFETCH(qint64, checkAt);
        QFETCH(bool, bannedThen);
        LoginBans bans(clock());
        bans.reset(BanRules{attempts, windowMs, banMs});
        QSignalSpy started(&bans, &LoginBans::banStarted);
        const QString address = u"10.0.0.1"_s;
        QList<int> banned;
        for (int i = 0; i < failures.size(); ++i) {
            now_ = failures[i];
            if (const auto count = bans.recordFailure(address)) {
                banned << i;
                QCOMPARE(*count, attempts);
            }
        }
        QCOMPARE(banned, banning);
        QCOMPARE(started.size(), banning.size());
        now_ = checkAt;
        QCOMPARE(bans.isBanned(address), bannedThen);
        QCOMPARE(bans.bans().size(), bannedThen ? 1 : 0);
    }

    void bansCountAddressesApart() {
        LoginBans bans(clock());
        bans.reset(BanRules{2, 1000, 100000});
        for (const char* address : {"127.0.0.2", "127.0.0.3", "::1"})
            QVERIFY(!bans.recordFailure(QString::fromLatin1(address)));
        QCOMPARE(bans.recordFailure(u"127.0.0.2"_s), std::optional<int>(2));
        QVERIFY(bans.isBanned(u"127.0.0.2"_s));
        QVERIFY(!bans.isBanned(u"127.0.0.3"_s) && !bans.isBanned(u"::1"_s));
        // Many addresses trying once each make the list tidy itself; the ban stays.
        for (int i = 0; i < 3000; ++i) {
            now_ = i;
            QVERIFY(!bans.recordFailure(u"10.1.%1.%2"_s.arg(i / 256).arg(i % 256)));
        }
        QVERIFY(!bans.isBanned(u"10.1.0.1"_s));
        QCOMPARE(listed(bans), QStringList{u"127.0.0.2 2 97001"_s});
    }

    void bansListedLiftedAndReset() {
        LoginBans bans(clock());
        QSignalSpy changed(&bans, &LoginBans::changed);
        bans.reset(BanRules{3, 60000, 600000});
        QCOMPARE(changed.size(), 0); // nothing was banned
        for (int i = 0; i < 3; ++i)
            bans.recordFailure(u"127.0.0.5"_s);
        now_ = 1000;
        for (int i = 0; i < 4; ++i) // the fourth comes while banned
            bans.recordFailure(u"127.0.0.4"_s);
        QCOMPARE(changed.size(), 2);
        now_ = 61000;
        // The first to end comes first.
        QCOMPARE(listed(bans), QStringList({"127.0.0.5 3 539000", "127.0.0.4 3 540000"}));

        QVERIFY(bans.lift(u"127.0.0.5"_s));
        QVERIFY(!bans.isBanned(u"127.0.0.5"_s));
        QVERIFY(!bans.lift(u"127.0.0.5"_s) && !bans.lift(u"10.9.9.9"_s));
        QCOMPARE(changed.size(), 3);
        // A lifted address starts counting from nothing.
        QVERIFY(!bans.recordFailure(u"127.0.0.5"_s));
        QVERIFY(!bans.recordFailure(u"127.0.0.5"_s));

        bans.reset(BanRules{3, 60000, 600000}); // a new start
        QCOMPARE(changed.size(), 4);
        QCOMPARE(listed(bans), QStringList());
        QVERIFY(!bans.recordFailure(u"127.0.0.5"_s)); // the count began again
    }

    void banByHand() {
        LoginBans bans(clock()); // rules off: only the operator bans
        QSignalSpy started(&bans, &LoginBans::banStarted);
        now_ = 100;
        bans.ban(u"10.0.0.1"_s, 5000);
        QVERIFY(bans.isBanned(u"10.0.0.1"_s));
        QCOMPARE(started.size(), 1);
        QCOMPARE(listed(bans), QStringList{u"10.0.0.1 0 5000"_s});
        bans.ban(u"10.0.0.1"_s, 1000); // a new length replaces the old one
        QCOMPARE(listed(bans), QStringList{u"10.0.0.1 0 1000"_s});
        now_ = 1100;
        QVERIFY(!bans.isBanned(u"10.0.0.1"_s));
        QCOMPARE(listed(bans), QStringList());
    }

private:
    qint64 now_ = 0;
    LoginBans::Clock clock() {
        return [this] { return now_; };
    }
};

QTEST_GUILESS_MAIN(TestServerEvents)
#include "test_serverevents.moc"
