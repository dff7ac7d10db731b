// QuotaKeeper and QuotaCharge: reservations never pass the quota, only growth
// is charged, overwrites, truncations and deletions free what they free, a
// lowered quota refuses uploads, the warning fires once per crossing, and the
// count from the disk sees each file once.
#include "events/ServerEvents.h"
#include "session/LimitsBook.h"
#include "session/QuotaCharge.h"
#include "session/QuotaCounter.h"
#include "session/QuotaKeeper.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace kv::session;

namespace {

constexpr qint32 kBob = 7;

kv::files::AccountLimits quota(qint64 bytes, qint64 files = 0) {
    kv::files::AccountLimits l;
    l.quotaBytes = bytes;
    l.quotaFiles = files;
    return l;
}

// Tallies kept in memory; folders and names as the test sets them.
struct MemoryStore : QuotaStore {
    QHash<qint32, Stored> stored;
    QHash<qint32, QStringList> folders;
    int saves = 0;
    QHash<qint32, Stored> loadTallies() override { return stored; }
    void saveTallies(const QHash<qint32, QuotaTally>& tallies, bool current) override {
        ++saves;
        for (auto it = tallies.begin(); it != tallies.end(); ++it)
            stored[it.key()] = {it.value(), current};
    }
    QStringList foldersOf(qint32 id) override { return folders.value(id); }
    QString loginOf(qint32 id) override { return id == kBob ? "bob" : QString(); }
};

void writeFile(const QString& path, qint64 size) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.write(QByteArray(int(size), 'x')) == size);
}

} // namespace

class TestQuotaKeeper : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each row: a quota, what is used, then one upload's open and writes.
    void chargesOnlyWhatFits_data() {
        QTest::addColumn<qint64>("quotaBytes");
        QTest::addColumn<qint64>("usedBefore");
        QTest::addColumn<qint64>("sizeBefore");    // -1: a new file
        QTest::addColumn<qint64>("sizeNow");       // once opened
        QTest::addColumn<QList<qint64>>("writes"); // offset, size pairs; offset -1: the end
        QTest::addColumn<QList<qint64>>("admitted");
        QTest::addColumn<qint64>("usedAfter");
        QTest::addColumn<bool>("cut");
        using L = QList<qint64>;
        QTest::newRow("new file within")
            << 100ll << 0ll << -1ll << 0ll << L{-1, 40, -1, 40} << L{40, 40} << 80ll << false;
        QTest::newRow("new file reaches the quota")
            << 100ll << 30ll << -1ll << 0ll << L{-1, 50, -1, 50} << L{50, 20} << 100ll << true;
        QTest::newRow("nothing left")
            << 100ll << 100ll << -1ll << 0ll << L{-1, 1} << L{0} << 100ll << true;
        QTest::newRow("overwrite frees the old size first")
            << 100ll << 90ll << 60ll << 0ll << L{-1, 70} << L{70} << 100ll << false;
        QTest::newRow("resume charges only growth")
            << 100ll << 50ll << 50ll << 50ll << L{-1, 30} << L{30} << 80ll << false;
        QTest::newRow("resume to a shorter offset frees the cut part")
            << 100ll << 50ll << 50ll << 20ll << L{-1, 10} << L{10} << 30ll << false;
        QTest::newRow("writes inside the file cost nothing")
            << 100ll << 100ll << 100ll << 100ll << L{0, 100, 50, 50} << L{100, 50} << 100ll
            << false;
        QTest::newRow("a write past the end pays for the hole")
            << 100ll << 0ll << -1ll << 0ll << L{80, 40} << L{20} << 100ll << true;
        QTest::newRow("a lowered quota admits no growth")
            << 100ll << 150ll << 150ll << 150ll << L{-1, 1, 0, 10} << L{0, 10} << 150ll << true;
    }
    void chargesOnlyWhatFits() {
        QFETCH(qint64, quotaBytes);
        QFETCH(qint64, usedBefore);
        QFETCH(qint64, sizeBefore);
        QFETCH(qint64, sizeNow);
        QFETCH(QList<qint64>, writes);
        QFETCH(QList<qint64>, admitted);
        QFETCH(qint64, usedAfter);
        QFETCH(bool, cut);
        LimitsBook book;
        book.setAccount(kBob, quota(quotaBytes));
        QuotaKeeper keeper(book, nullptr);
        keeper.reserve(kBob, usedBefore); // what the account held
        if (usedBefore > quotaBytes) {    // a quota lowered below it
            book.setAccount(kBob, quota(usedBefore));
            keeper.reserve(kBob, usedBefore);
            book.setAccount(kBob, quota(quotaBytes));
        }
        QCOMPARE(keeper.used(kBob).bytes, usedBefore);
        QuotaCharge charge(keeper, kBob, sizeBefore, sizeNow);
        QList<qint64> got;
        for (int i = 0; i + 1 < writes.size(); i += 2)
            got << charge.admit(writes[i], writes[i + 1]);
        QCOMPARE(got, admitted);
        QCOMPARE(keeper.used(kBob).bytes, usedAfter);
        QCOMPARE(charge.cut(), cut);
        QVERIFY(keeper.used(kBob).bytes <= std::max(quotaBytes, usedBefore));
    }

    // Several uploads of one account at once share what is left, to the byte.
    void parallelUploadsNeverPassTheQuota() {
        LimitsBook book;
        book.setAccount(kBob, quota(1000));
        QuotaKeeper keeper(book, nullptr);
        std::vector<std::unique_ptr<QuotaCharge>> charges;
        for (int i = 0; i < 4; ++i)
            charges.push_back(std::make_unique<QuotaCharge>(keeper, kBob, -1, 0));
        qint64 written = 0;
        for (int round = 0; round < 10; ++round)
            for (auto& c : charges)
                written += c->admit(-1, 33);
        QCOMPARE(written, 1000);
        QCOMPARE(keeper.used(kBob).bytes, 1000);
        QCOMPARE(keeper.used(kBob).files, 4);
        // One upload's last write failed: its charged bytes go back.
        charges[0]->settle(charges[0]->end() - 33);
        QCOMPARE(keeper.used(kBob).bytes, 967);
        charges[1]->restoreReplaced();
        QCOMPARE(keeper.used(kBob).files, 3);
    }

    void refusesNewUploads_data() {
        QTest::addColumn<qint64>("quotaBytes");
        QTest::addColumn<qint64>("quotaFiles");
        QTest::addColumn<qint64>("replaced");
        QTest::addColumn<bool>("newFile");
        QTest::addColumn<bool>("refused");
        // The account holds 100 bytes in 3 files.
        QTest::newRow("room") << 200ll << 0ll << 0ll << true << false;
        QTest::newRow("bytes used up") << 100ll << 0ll << 0ll << true << true;
        QTest::newRow("bytes used up, overwrite frees") << 100ll << 0ll << 10ll << false << false;
        QTest::newRow("lowered below use") << 50ll << 0ll << 10ll << false << true;
        QTest::newRow("files used up") << 0ll << 3ll << 0ll << true << true;
        QTest::newRow("files used up, overwrite") << 0ll << 3ll << 5ll << false << false;
        QTest::newRow("files room") << 0ll << 4ll << 0ll << true << false;
    }
    void refusesNewUploads() {
        QFETCH(qint64, quotaBytes);
        QFETCH(qint64, quotaFiles);
        QFETCH(qint64, replaced);
        QFETCH(bool, newFile);
        QFETCH(bool, refused);
        LimitsBook book;
        book.setAccount(kBob, quota(1000));
        QuotaKeeper keeper(book, nullptr);
        keeper.reserve(kBob, 100);
        keeper.addFiles(kBob, 3);
        book.setAccount(kBob, quota(quotaBytes, quotaFiles));
        QCOMPARE(!keeper.refusal(kBob, replaced, newFile).isEmpty(), refused);
    }

    void deleteAndTruncateFree() {
        LimitsBook book;
        book.setAccount(kBob, quota(1000, 10));
        QuotaKeeper keeper(book, nullptr);
        QuotaCharge(keeper, kBob, -1, 0).admit(-1, 400);
        QCOMPARE(keeper.used(kBob), (QuotaTally{400, 1}));
        keeper.release(kBob, 400); // a delete
        keeper.addFiles(kBob, -1);
        QCOMPARE(keeper.used(kBob), (QuotaTally{0, 0}));
        keeper.release(kBob, 5); // never below nothing
        keeper.addFiles(kBob, -1);
        QCOMPARE(keeper.used(kBob), (QuotaTally{0, 0}));
    }

    void accountWithoutQuotaIsNotLimited() {
        LimitsBook book;
        QuotaKeeper keeper(book, nullptr);
        QVERIFY(!keeper.limited(kBob));
        QCOMPARE(keeper.bytesLeft(kBob), -1);
        QCOMPARE(keeper.reserve(kBob, 1 << 20), 1 << 20);
        book.setAccount(kBob, quota(10));
        QVERIFY(keeper.limited(kBob)); // a change applies at once
    }

    void warnsOncePerCrossing() {
        LimitsBook book;
        ServerLimits server;
        server.quotaWarnPercent = 80;
        book.setServer(server);
        book.setAccount(kBob, quota(100));
        QuotaKeeper keeper(book, nullptr);
        kv::events::ServerEvents bus;
        keeper.setNotifications(&bus);
        keeper.noteLogin(kBob, "bob");
        QSignalSpy warnings(&bus, &kv::events::ServerEvents::quotaWarning);
        keeper.reserve(kBob, 79);
        QCOMPARE(warnings.count(), 0);
        keeper.reserve(kBob, 1);
        QCOMPARE(warnings.count(), 1);
        keeper.reserve(kBob, 10);
        keeper.release(kBob, 5);
        QCOMPARE(warnings.count(), 1);
        keeper.release(kBob, 50); // under the line again
        keeper.reserve(kBob, 60);
        QCOMPARE(warnings.count(), 2);
        QCOMPARE(warnings.last().first().value<kv::events::AccountNotice>().login, "bob");
        server.quotaWarnPercent = 0; // no warnings at all
        book.setServer(server);
        keeper.release(kBob, 100);
        keeper.reserve(kBob, 100);
        QCOMPARE(warnings.count(), 2);
    }

    // The disk count: each file once, links not followed, overlapping folders.
    void countsEachDiskFileOnce() {
        QTemporaryDir dir;
        const QString root = dir.filePath("root");
        QVERIFY(QDir().mkpath(root + "/sub/deeper"));
        QVERIFY(QDir().mkpath(dir.filePath("shared")));
        writeFile(root + "/a", 10);
        writeFile(root + "/sub/b", 20);
        writeFile(root + "/sub/deeper/c", 30);
        writeFile(dir.filePath("shared/d"), 40);
        QVERIFY(::link(QFile::encodeName(root + "/a"), QFile::encodeName(root + "/sub/a2")) == 0);
        QVERIFY(QFile::link(dir.filePath("shared"), root + "/link"));
        // The virtual folder "shared" and again the root's own subfolder.
        QuotaCounter counter({root, dir.filePath("shared"), root + "/sub"});
        int steps = 0;
        while (!counter.step(1) && steps < 100)
            ++steps;
        QVERIFY(steps > 3); // it went a slice at a time
        QCOMPARE(counter.tally(), (QuotaTally{100, 4}));
    }

    void recountsStaleTalliesAndNamesOverlaps() {
        QTemporaryDir dir;
        writeFile(dir.filePath("a"), 123);
        MemoryStore store;
        store.folders[kBob] = {dir.path()};
        store.folders[8] = {dir.path()};
        store.stored[kBob] = {{999, 9}, false}; // a run that did not end cleanly
        store.stored[8] = {{5, 1}, true};
        store.stored[9] = {{5, 1}, true};
        LimitsBook book;
        book.setAccount(kBob, quota(1000));
        book.setAccount(9, quota(1000));
        QuotaKeeper keeper(book, &store);
        QSignalSpy counted(&keeper, &QuotaKeeper::counted);
        keeper.start(); // the stale tally of an account with a quota is counted at once
        QCOMPARE(store.stored[9].current, false);     // a run is on
        QCOMPARE(keeper.used(9), (QuotaTally{5, 1})); // current: kept
        QVERIFY(counted.count() == 1 || counted.wait(5000));
        QCOMPARE(keeper.used(kBob), (QuotaTally{123, 1}));
        // A quota set where there was none: counted anew.
        book.setAccount(8, quota(1000));
        keeper.used(8);
        QVERIFY(counted.count() == 2 || counted.wait(5000));
        QCOMPARE(keeper.used(8), (QuotaTally{123, 1}));
        QCOMPARE(keeper.overlaps(), (QList<QList<qint32>>{{kBob, 8}}));
        keeper.stop();
        QCOMPARE(store.stored[kBob].current, true);
        QCOMPARE(store.stored[kBob].tally, (QuotaTally{123, 1}));
    }
};

QTEST_GUILESS_MAIN(TestQuotaKeeper)
#include "test_quotakeeper.moc"
