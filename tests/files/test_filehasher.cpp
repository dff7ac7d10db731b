// The file hasher through its public calls: known digests of each algorithm,
// algorithm names as clients write them, chunk boundaries, and workers that
// stop a long hash when asked or when they go away.

#include "files/FileHasher.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::files;

Q_DECLARE_METATYPE(kv::files::HashAlgorithm)

namespace {

// A sparse file: its size costs no disk, and reading it costs real time.
std::unique_ptr<QFile> bigFile(const QTemporaryDir& dir, qint64 size) {
    auto file = std::make_unique<QFile>(dir.filePath(QStringLiteral("big.bin")));
    if (!file->open(QIODevice::ReadWrite) || !file->resize(size) || !file->seek(0))
        return nullptr;
    return file;
}

} // namespace

class TestFileHasher : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void knownDigests_data() {
        QTest::addColumn<HashAlgorithm>("algorithm");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("sha-256 abc") << HashAlgorithm::Sha256 << QByteArray("abc")
                                     << QByteArray("ba7816bf8f01cfea414140de5dae2223"
                                                   "b00361a396177a9cb410ff61f20015ad");
        QTest::newRow("sha-1 abc") << HashAlgorithm::Sha1 << QByteArray("abc")
                                   << QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d");
        QTest::newRow("md5 empty")
            << HashAlgorithm::Md5 << QByteArray() << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
        // The check value of CRC-32 (zlib, PKZIP).
        QTest::newRow("crc32 check")
            << HashAlgorithm::Crc32 << QByteArray("123456789") << QByteArray("cbf43926");
        QTest::newRow("crc32 leading zeros kept")
            << HashAlgorithm::Crc32 << QByteArray("\x9d\x0a\xd9\x6d", 4) << QByteArray("00000000");
        QTest::newRow("crc32 empty")
            << HashAlgorithm::Crc32 << QByteArray() << QByteArray("00000000");
        // Across chunk boundaries (1 MiB): the chunks add up to the whole.
        const QByteArray big(3 * 1024 * 1024 + 5, 'z');
        QTest::newRow("sha-256 over chunks")
            << HashAlgorithm::Sha256 << big
            << QCryptographicHash::hash(big, QCryptographicHash::Sha256).toHex();
    }

    void knownDigests() {
        QFETCH(HashAlgorithm, algorithm);
        QFETCH(QByteArray, data);
        QBuffer buffer(&data);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const HashResult r = hashDevice(buffer, algorithm);
        QVERIFY(r.ok);
        QTEST(r.hex, "hex");
        QCOMPARE(r.bytes, data.size());
    }

    void namesAsClientsWriteThem() {
        for (const HashAlgorithm a : {HashAlgorithm::Sha256, HashAlgorithm::Sha1,
                                      HashAlgorithm::Md5, HashAlgorithm::Crc32}) {
            QCOMPARE(hashByName(hashName(a)), a);
            QCOMPARE(hashByName(hashName(a).toLower()), a);
        }
        QCOMPARE(hashName(HashAlgorithm::Sha256), QStringLiteral("SHA-256"));
        for (const char* unknown : {"SHA256", "SHA-512", "", "MD5 "})
            QVERIFY2(!hashByName(QString::fromLatin1(unknown)), unknown);
    }

    void workersHashFromThePositionToTheEnd() {
        QTemporaryDir dir;
        auto file = std::make_unique<QFile>(dir.filePath(QStringLiteral("f")));
        QVERIFY(file->open(QIODevice::ReadWrite));
        file->write("skip-abc");
        QVERIFY(file->seek(5));
        HashWorkers workers(1);
        QFutureWatcher<HashResult> watcher;
        QSignalSpy done(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(workers.start(std::move(file), HashAlgorithm::Sha1));
        QVERIFY(done.wait(5000));
        QCOMPARE(watcher.result().hex, QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d"));
        QCOMPARE(watcher.result().bytes, 3);
    }

    void cancelledHashStopsEarly() {
        QTemporaryDir dir;
        std::unique_ptr<QFile> file = bigFile(dir, qint64(4) << 30);
        QVERIFY(file);
        HashWorkers workers(1);
        QFutureWatcher<HashResult> watcher;
        QSignalSpy done(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(workers.start(std::move(file), HashAlgorithm::Sha256));
        QElapsedTimer clock;
        clock.start();
        watcher.future().cancel();
        QVERIFY(done.wait(5000));
        QVERIFY(watcher.future().isCanceled());
        QVERIFY2(clock.elapsed() < 3000, "4 GiB were hashed to the end");
    }

    void workersGoingAwayStopTheirHashes() {
        QTemporaryDir dir;
        QFuture<HashResult> running, waiting;
        QElapsedTimer clock;
        {
            HashWorkers workers(1);
            running = workers.start(bigFile(dir, qint64(4) << 30), HashAlgorithm::Md5);
            waiting = workers.start(bigFile(dir, qint64(4) << 30), HashAlgorithm::Crc32);
            QTRY_VERIFY_WITH_TIMEOUT(running.isRunning(), 5000);
            clock.start();
        }
        QVERIFY2(clock.elapsed() < 3000, "the workers waited for a whole hash");
        QVERIFY(running.isFinished() && waiting.isFinished());
        QCOMPARE(running.resultCount() > 0 && running.result().ok, false);
        QVERIFY(waiting.isCanceled() || !waiting.result().ok);
    }
};

QTEST_GUILESS_MAIN(TestFileHasher)
#include "test_filehasher.moc"
