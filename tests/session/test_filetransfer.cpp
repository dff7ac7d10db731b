// A file transfer of any protocol: paths known from the open, bytes counted,
// the first failure kept, the open file's own facts, and how it ends.
#include "session/FileTransfer.h"

#include <QTemporaryDir>
#include <QTest>

using namespace kv;
using session::FileTransfer;

namespace {

files::OpenedFile opened(const QString& disk, QIODevice::OpenMode mode) {
    files::OpenedFile o;
    o.path = QStringLiteral("/in/file.bin");
    o.diskPath = disk;
    o.file = std::make_unique<QFile>(disk);
    if (!o.file->open(mode))
        o.error = files::FileError::OpenFailed;
    o.size = o.file->size();
    return o;
}

// A file at `disk` holding `bytes`.
bool seeded(const QString& disk, QByteArrayView bytes) {
    QFile f(disk);
    return f.open(QIODevice::WriteOnly) && f.write(bytes.data(), bytes.size()) == bytes.size();
}

} // namespace

class TestFileTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void anUploadKnowsBothPathsCountsAndNotesTheWholeFile() {
        QTemporaryDir dir;
        const QString disk = dir.filePath("file.bin");
        QVERIFY(seeded(disk, "1234"));
        FileTransfer t(events::TransferKind::Upload,
                       opened(disk, QIODevice::WriteOnly | QIODevice::Append), true);
        QCOMPARE(t.note().clientPath, u"/in/file.bin");
        QCOMPARE(t.note().diskPath, disk);
        QVERIFY(t.seek(0)); // appending: every write goes to the end
        QVERIFY(t.write("abc"));
        QVERIFY(t.write("de"));
        QCOMPARE(t.note().bytes, 5);
        QCOMPARE(t.currentSize(), 9);
        QCOMPARE(t.finish(events::TransferOutcome::Complete), events::TransferOutcome::Complete);
        QCOMPARE(t.note().fileSize, 9);
    }

    void theOpenFilesTimeIsItsOwnAfterARename() {
        QTemporaryDir dir;
        const QString disk = dir.filePath("file.bin");
        QVERIFY(seeded(disk, "x"));
        const QDateTime past = QDateTime::fromSecsSinceEpoch(1'600'000'000, Qt::UTC);
        QFile seed(disk);
        QVERIFY(seed.open(QIODevice::ReadWrite));
        QVERIFY(seed.setFileTime(past, QFileDevice::FileModificationTime));
        seed.close();
        FileTransfer t(events::TransferKind::Download, opened(disk, QIODevice::ReadOnly));
        QVERIFY(QFile::rename(disk, dir.filePath("moved.bin")));
        QCOMPARE(t.currentModified(), past);
    }

    void theFirstFailureIsTheReasonAndTheEndSaysFailed() {
        QTemporaryDir dir;
        const QString disk = dir.filePath("file.bin");
        QVERIFY(seeded(disk, "hello"));
        FileTransfer t(events::TransferKind::Download, opened(disk, QIODevice::ReadOnly));
        char buffer[8];
        QCOMPARE(t.read(buffer, 3), 3);
        QVERIFY(t.seek(3));
        QCOMPARE(t.read(buffer, 8), 2);
        QCOMPARE(t.note().bytes, 5);
        QCOMPARE(t.note().size, 5);
        t.noteFailure("first");
        t.noteFailure("second");
        QCOMPARE(t.note().failure, u"first");
        QCOMPARE(t.finish(events::TransferOutcome::Complete), events::TransferOutcome::Failed);
        QCOMPARE(t.note().fileSize, -1);
    }
};

QTEST_GUILESS_MAIN(TestFileTransfer)
#include "test_filetransfer.moc"
