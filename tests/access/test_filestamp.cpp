// Stamps that let something read from a file be kept: only the same file,
// untouched, and settled well before it was stamped, proves unchanged.

#include "access/FileStamp.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace kv::access;
using namespace std::chrono_literals;

namespace {

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Well after anything the test does, so that the file counts as settled.
FileStamp::Clock::time_point later() {
    return FileStamp::Clock::now() + FileStamp::kSettleTime + 10s;
}

} // namespace

class TestFileStamp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Only a settled, untouched file proves unchanged.
    void anyChangeOrDoubtIsSeen_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("untouched") << "none";
        QTest::newRow("written, another size") << "grow";
        QTest::newRow("written, same size, time set back") << "sameSize";
        QTest::newRow("replaced by another file") << "replace";
        QTest::newRow("removed") << "remove";
        QTest::newRow("changed just before the stamp") << "recent";
    }
    void anyChangeOrDoubtIsSeen() {
        QFETCH(QString, change);
        QTemporaryDir dir;
        const QString path = dir.filePath("accounts.dat");
        QVERIFY(write(path, "one"));
        // A stamp taken right after the change cannot tell a change in the same
        // tick of the file system's clock from none.
        const FileStamp first =
            FileStamp::of(path, change == "recent" ? FileStamp::Clock::now() : later());
        if (change == "grow") {
            QVERIFY(write(path, "one two"));
        } else if (change == "sameSize") {
            QVERIFY(write(path, "two"));
            const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        } else if (change == "replace") {
            QVERIFY(write(dir.filePath("new"), "one"));
            QVERIFY(::rename(QFile::encodeName(dir.filePath("new")).constData(),
                             QFile::encodeName(path).constData()) == 0);
        } else if (change == "remove") {
            QVERIFY(QFile::remove(path));
        }
        QCOMPARE(first.provesUnchanged(FileStamp::of(path, later())), change == "none");
    }

    void aFileThatCannotBeStatedProvesNothing() {
        const FileStamp none = FileStamp::of(QString());
        QVERIFY(!none.provesUnchanged(none));
        const FileStamp memory = FileStamp::of(":memory:", later());
        QVERIFY(!memory.provesUnchanged(FileStamp::of(":memory:", later())));
    }
};

QTEST_GUILESS_MAIN(TestFileStamp)
#include "test_filestamp.moc"
