// The FTP engine under speed limits, with real clients (python3 ftplib):
// downloads and uploads, binary (sendfile, direct reads and splice) and
// ASCII (chunks, the socket's own buffer), plain and over TLS, keep to the
// limit; two sessions of one account share the account's limit; the
// transfer's events carry the limit it moves under.

#include "session/RateLimiter.h"
#include "tests/support/EngineHarness.h"

#include <QSignalSpy>
#include <QTest>

using namespace kv;

namespace {

constexpr qint64 kKib = 512; // KiB/s: two seconds for a MiB
constexpr qint64 kBytes = 1024 * 1024;
constexpr double kSlowest = 0.7; // a loaded machine may be slower, never faster
constexpr double kFastest = 1.02;

// The client's side of one transfer of kBytes, timed from the command to the
// end: "<bytes> <seconds>".
QString transferScript(bool upload, bool ascii, bool tls) {
    return QStringLiteral(R"(
f = tlslogin(cls=ReuseFTP) if %3 else login()
f.voidcmd('TYPE %2')
began = time.monotonic()
if %1:
    c = f.transfercmd('STOR up.bin')
    data = (bytes(range(32, 127)) * (%4 // 95 + 1))[:%4]  # no line ends: ASCII keeps it too
    for i in range(0, len(data), 65536): c.sendall(data[i:i + 65536])
    if %3: c.unwrap()
    c.close(); f.voidresp(); n = len(data) if open(ROOT + '/up.bin', 'rb').read() == data else -1
else:
    c = f.transfercmd('RETR big.bin'); n = 0
    while True:
        b = c.recv(65536)
        if not b: break
        n += len(b)
    c.close(); f.voidresp()
print(n, time.monotonic() - began)
)")
        .arg(upload ? "True" : "False", ascii ? "A" : "I", tls ? "True" : "False")
        .arg(kBytes);
}

} // namespace

class TestFtpRates : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachTransferPathKeepsToTheLimit_data() {
        QTest::addColumn<bool>("upload");
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<bool>("tls");
        for (const bool tls : {false, true}) {
            for (const bool upload : {false, true}) {
                for (const bool ascii : {false, true})
                    QTest::addRow("%s %s%s", upload ? "upload" : "download",
                                  ascii ? "ascii" : "binary", tls ? " over TLS" : "")
                        << upload << ascii << tls;
            }
        }
    }
    void eachTransferPathKeepsToTheLimit() {
        QFETCH(bool, upload);
        QFETCH(bool, ascii);
        QFETCH(bool, tls);
        EngineHarness h;
        h.write(QStringLiteral("root/big.bin"), QByteArray(kBytes, 'x'));
        session::LimitsBook book;
        session::ServerLimits server;
        (upload ? server.rateUpKib : server.rateDownKib) = kKib;
        book.setServer(server);
        session::RateLimiter rates(book);
        if (tls)
            h.tls = h.tlsWith(ftp::TlsMode::On);
        QVERIFY(h.start());
        h.server->setRateLimiter(&rates);
        QSignalSpy started(&h.events.bus, &events::ServerEvents::transferStarted);
        const ClientRun run = h.python(transferScript(upload, ascii, tls), 60000);
        const QStringList out = outputOf(run);
        QVERIFY2(run.exitCode == 0, qPrintable(out.join(u'\n')));
        const QStringList words = out.first().split(u' ');
        QCOMPARE(words.first().toLongLong(), kBytes);
        const double average = double(kBytes) / words.last().toDouble();
        QVERIFY2(average <= kKib * 1024 * kFastest && average >= kKib * 1024 * kSlowest,
                 qPrintable(QString::number(average)));
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.first().first().value<events::TransferEvent>().limitBytesPerSecond,
                 kKib * 1024);
        // Nobody waits once the transfer is over: the limiter's timer is off.
        QTRY_VERIFY(!rates.timerActive());
    }

    void twoSessionsOfOneAccountShareItsLimit() {
        EngineHarness h;
        h.events.accounts.insert(QStringLiteral("alice2"), QStringLiteral("secret"));
        h.events.accountIds = {{QStringLiteral("alice"), 7}, {QStringLiteral("alice2"), 7}};
        h.write(QStringLiteral("root/big.bin"), QByteArray(kBytes, 'x'));
        session::LimitsBook book;
        files::AccountLimits account;
        account.rateDownKib = 2 * kKib;
        book.setAccount(7, account);
        session::RateLimiter rates(book);
        QVERIFY(h.start());
        h.server->setRateLimiter(&rates);
        const ClientRun run = h.python(QStringLiteral(R"(
took = {}
def get(user):
    f = login(user); began = time.monotonic()
    n = len(fetch(f, 'RETR big.bin')); took[user] = (n, time.monotonic() - began)
threads = [threading.Thread(target=get, args=(u,)) for u in ('alice', 'alice2')]
began = time.monotonic()
for t in threads: t.start()
for t in threads: t.join(60)
print(sum(n for n, _ in took.values()), time.monotonic() - began, *(s for _, s in took.values()))
)"),
                                       60000);
        const QStringList out = outputOf(run);
        QVERIFY2(run.exitCode == 0, qPrintable(out.join(u'\n')));
        const QStringList words = out.first().split(u' ');
        QCOMPARE(words.at(0).toLongLong(), 2 * kBytes);
        const double total = double(2 * kBytes) / words.at(1).toDouble();
        QVERIFY2(total <= 2 * kKib * 1024 * kFastest && total >= 2 * kKib * 1024 * kSlowest,
                 qPrintable(QString::number(total)));
        // Taking turns, they end close together: neither had the account's rate alone.
        QVERIFY2(qAbs(words.at(2).toDouble() - words.at(3).toDouble()) < 0.5,
                 qPrintable(out.first()));
    }

    void aSessionOfAnotherAccountIsNotHeldBack() {
        EngineHarness h;
        h.events.accounts.insert(QStringLiteral("bob"), QStringLiteral("secret"));
        h.events.accountIds = {{QStringLiteral("alice"), 7}, {QStringLiteral("bob"), 8}};
        h.write(QStringLiteral("root/big.bin"), QByteArray(kBytes, 'x'));
        session::LimitsBook book;
        files::AccountLimits slow;
        slow.rateDownKib = 64;
        book.setAccount(7, slow);
        session::RateLimiter rates(book);
        QVERIFY(h.start());
        h.server->setRateLimiter(&rates);
        const ClientRun run = h.python(QStringLiteral(R"(
f = login('bob'); began = time.monotonic()
print(len(fetch(f, 'RETR big.bin')), time.monotonic() - began)
)"));
        const QStringList out = outputOf(run);
        QVERIFY2(run.exitCode == 0, qPrintable(out.join(u'\n')));
        QVERIFY2(out.first().split(u' ').last().toDouble() < 2.0, qPrintable(out.first()));
        QVERIFY(!rates.timerActive());
    }
};

QTEST_GUILESS_MAIN(TestFtpRates)
#include "test_ftprates.moc"
