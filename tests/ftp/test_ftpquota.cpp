// An account's quota over FTP, driven through a real FtpServer by Python's
// ftplib: uploads refused before any data once it is used up (and again on
// the client's retry, before the 150), stopped at the quota with the part
// received kept, overwrites that never destroy the file they would replace,
// resumes that pay for growth, deletions that free, parallel sessions that
// never pass it, and AVBL/ALLO that tell the room left.

#include "session/LimitsBook.h"
#include "session/QuotaKeeper.h"
#include "tests/support/EngineHarness.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kv::session;
using namespace Qt::StringLiterals;

namespace {

constexpr qint32 kAlice = 5;

kv::files::AccountLimits quota(qint64 bytes, qint64 files = 0) {
    kv::files::AccountLimits l;
    l.quotaBytes = bytes;
    l.quotaFiles = files;
    return l;
}

// A server whose login "alice" is account kAlice, with its quota in `book`
// and the files of root/ already counted.
struct QuotaServer {
    EngineHarness h;
    LimitsBook book;
    QuotaKeeper keeper{book, nullptr};
    explicit QuotaServer(kv::files::AccountLimits limits) {
        book.setAccount(kAlice, limits);
        h.events.accountId = kAlice;
        h.events.root = h.path("root");
        h.quota = &keeper;
    }
    // Files the account holds before the test, counted as a recount would.
    void seed(const QString& name, qint64 size) {
        h.write("root/" + name, QByteArray(int(size), 'o'));
        const kv::files::AccountLimits limits = book.account(kAlice);
        book.setAccount(kAlice, {});
        keeper.reserve(kAlice, size);
        keeper.addFiles(kAlice, 1);
        book.setAccount(kAlice, limits);
    }
    qint64 sizeOf(const QString& name) const { return QFileInfo(h.path("root/" + name)).size(); }
    QStringList rootEntries() const {
        return QDir(h.path("root")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

const QString kStore = uR"(
def store(f, name, size, cmd='STOR', rest=None, byte=b'n'):
    try: return f.storbinary('%s %s' % (cmd, name), io.BytesIO(byte * size), rest=rest)
    except ConnectionError: pass # the server stopped reading: its reply follows
    except ftplib.all_errors as e: return str(e)
    try: return f.getresp()
    except ftplib.all_errors as e: return str(e)
)"_s;

} // namespace

class TestFtpQuota : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void uploadWithTheQuotaUsedUpIsRefusedBeforeAnyData_data() {
        QTest::addColumn<qint64>("quotaBytes");
        QTest::addColumn<qint64>("quotaFiles");
        QTest::addColumn<QString>("append"); // adds no file: only bytes refuse it
        QTest::newRow("bytes") << 100ll << 0ll << "552 Quota exceeded.";
        QTest::newRow("files") << 0ll << 1ll << "226 Transfer complete.";
        QTest::newRow("lowered below use") << 50ll << 0ll << "552 Quota exceeded.";
    }
    void uploadWithTheQuotaUsedUpIsRefusedBeforeAnyData() {
        QFETCH(qint64, quotaBytes);
        QFETCH(qint64, quotaFiles);
        QFETCH(QString, append);
        QuotaServer s(quota(1000));
        s.seed("old.bin", 100);
        s.book.setAccount(kAlice, quota(quotaBytes, quotaFiles));
        QVERIFY(s.h.start());
        // The retry is refused the same way, before the 150; reads, renames
        // and deletes still work.
        const ClientRun r = s.h.python(kStore + uR"(
f = login()
print(store(f, 'new.bin', 10)); print(store(f, 'new.bin', 10)); print(store(f, 'old.bin', 10, 'APPE'))
print(len(fetch(f, 'RETR old.bin')), resp(f, 'RNFR old.bin')[:3], resp(f, 'RNTO moved.bin')[:3])
print(resp(f, 'DELE moved.bin')[:3])
)"_s);
        const qint64 kept = append.startsWith(u"226") ? 110 : 100;
        QCOMPARE(outputOf(r), (QStringList{"552 Quota exceeded.", "552 Quota exceeded.", append,
                                           u"%1 350 250"_s.arg(kept), "250", ""}));
        QCOMPARE(s.rootEntries(), QStringList());
        QCOMPARE(s.keeper.used(kAlice), (QuotaTally{0, 0}));
        const QString refusal = s.h.events.logLines.filter(u"rifiutato"_s).value(0);
        QVERIFY2(
            refusal.contains(u"Upload /new.bin rifiutato: quota superata per l'account alice"_s),
            qPrintable(refusal));
    }

    // Small uploads go by plain reads, large ones by splice: both stop at
    // the quota's byte and keep what fit, and a resume once there is room
    // adds only the rest.
    void uploadReachingTheQuotaKeepsThePartReceived_data() {
        QTest::addColumn<qint64>("quotaBytes");
        QTest::addColumn<qint64>("size");
        QTest::newRow("small") << 1000ll << 3000ll;
        QTest::newRow("large") << 2ll * 1024 * 1024 + 7 << 3ll * 1024 * 1024;
    }
    void uploadReachingTheQuotaKeepsThePartReceived() {
        QFETCH(qint64, quotaBytes);
        QFETCH(qint64, size);
        QuotaServer s(quota(quotaBytes));
        QVERIFY(s.h.start());
        ClientRun r = s.h.python(kStore + uR"(
f = login(); print(store(f, 'big.bin', %1)); print(f.size('big.bin'))
)"_s.arg(size));
        QCOMPARE(outputOf(r).join(u'|'),
                 (QStringList{"552 Quota exceeded.", QString::number(quotaBytes), ""}).join(u'|'));
        QCOMPARE(s.sizeOf("big.bin"), quotaBytes);
        QCOMPARE(s.keeper.used(kAlice), (QuotaTally{quotaBytes, 1}));
        const QString kept = s.h.events.logLines.filter(u"Upload /big.bin"_s).value(0);
        QVERIFY2(
            kept.contains(u"quota superata, file parziale di %1 byte conservato"_s.arg(quotaBytes)),
            qPrintable(kept));
        // Room again: the client resumes from what the server holds.
        s.book.setAccount(kAlice, quota(size));
        r = s.h.python(kStore + uR"(
f = login(); f.voidcmd('TYPE I'); print(store(f, 'big.bin', %1 - %2, rest=%2)[:3])
)"_s.arg(size)
                                    .arg(quotaBytes));
        QCOMPARE(outputOf(r), (QStringList{"226", ""}));
        QCOMPARE(s.sizeOf("big.bin"), size);
        QCOMPARE(s.keeper.used(kAlice), (QuotaTally{size, 1}));
    }

    // An upload over an existing file is admitted against what is used less
    // the old file, and replaces it only when complete.
    void overwriteNeverDestroysTheFileItWouldReplace() {
        QuotaServer s(quota(1000));
        s.seed("a.txt", 600);
        QVERIFY(s.h.start());
        ClientRun r = s.h.python(kStore + uR"(
f = login(); print(store(f, 'a.txt', 1500)); print(store(f, 'a.txt', 900)[:3])
)"_s);
        QCOMPARE(outputOf(r), (QStringList{"552 Quota exceeded.", "226", ""}));
        QCOMPARE(s.h.read("root/a.txt"), QByteArray(900, 'n'));
        QCOMPARE(s.rootEntries(), QStringList{"a.txt"});
        QCOMPARE(s.keeper.used(kAlice), (QuotaTally{900, 1}));
        // The cut upload left the old file as it was.
        s.seed("b.txt", 50); // 950 used
        r = s.h.python(kStore + uR"(
f = login(); print(store(f, 'b.txt', 200))
)"_s);
        QCOMPARE(outputOf(r), (QStringList{"552 Quota exceeded.", ""}));
        QCOMPARE(s.h.read("root/b.txt"), QByteArray(50, 'o'));
        QCOMPARE(s.rootEntries(), (QStringList{"a.txt", "b.txt"}));
        QCOMPARE(s.keeper.used(kAlice), (QuotaTally{950, 2}));
    }

    void deleteAndTruncationFree() {
        QuotaServer s(quota(1000, 2));
        s.seed("a.txt", 600);
        s.seed("b.txt", 300);
        QVERIFY(s.h.start());
        const ClientRun r = s.h.python(kStore + uR"(
f = login(); print(resp(f, 'DELE a.txt')[:3]); print(store(f, 'c.txt', 600)[:3])
f.voidcmd('TYPE I'); print(store(f, 'c.txt', 10, rest=100)[:3])
)"_s);
        QCOMPARE(outputOf(r), (QStringList{"250", "226", "226", ""}));
        QCOMPARE(s.sizeOf("c.txt"), 110);
        QCOMPARE(s.keeper.used(kAlice), (QuotaTally{410, 2}));
    }

    // Several sessions uploading at once share what is left to the byte.
    void parallelSessionsNeverPassTheQuota() {
        QuotaServer s(quota(300000));
        QVERIFY(s.h.start());
        const ClientRun r = s.h.python(kStore + uR"(
out = {}
def up(i):
    f = login(); out[i] = store(f, 'p%d.bin' % i, 200000)[:3]
ts = [threading.Thread(target=up, args=(i,)) for i in range(3)]
for t in ts: t.start()
for t in ts: t.join()
print(sorted(out.values()))
)"_s);
        const QStringList out = outputOf(r);
        QVERIFY2(out.value(0).contains(u"552"_s), qPrintable(out.join(u'|')));
        qint64 total = 0;
        for (const QString& name : s.rootEntries())
            total += s.sizeOf(name);
        QCOMPARE(total, 300000);
        QCOMPARE(s.keeper.used(kAlice).bytes, 300000);
    }

    void avblAndAlloTellTheSmallerOfDiskAndQuota() {
        QuotaServer s(quota(1000));
        s.seed("a.txt", 300);
        QVERIFY(s.h.start());
        const ClientRun r = s.h.python(uR"(
f = login(); print(resp(f, 'AVBL')); print(resp(f, 'ALLO 800')); print(resp(f, 'ALLO 700'))
)"_s);
        QCOMPARE(outputOf(r),
                 (QStringList{"213 700", "452 Insufficient storage space: 700 bytes free.",
                              "200 ALLO command successful", ""}));
    }
};

QTEST_GUILESS_MAIN(TestFtpQuota)
#include "test_ftpquota.moc"
