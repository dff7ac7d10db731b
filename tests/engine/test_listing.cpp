#include "engine/Listing.h"

#include <QLocale>
#include <QTest>
#include <QTimeZone>

using namespace kv::engine;

namespace {
const QDateTime kNow(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC);

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// "d" folder, "l" link, "-" file; then "r"/"w" for what the server may do.
FsEntry entry(const QString& kind, qint64 size, const QDateTime& modified,
              const QString& name = "name") {
    FsEntry e;
    e.name = name;
    e.isDir = kind.startsWith('d');
    e.isLink = kind.startsWith('l');
    e.readable = kind.contains('r');
    e.writable = kind.contains('w');
    e.size = size;
    e.modified = modified;
    return e;
}
} // namespace

class TestListing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Clients parse English month names, whatever the server's language.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy)); }

    void listLine_data() {
        QTest::addColumn<FsEntry>("e");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("recent file") << entry("-rw", 12, utc(2026, 3, 5, 14, 3, 59))
                                     << QByteArray("-rw-r--r-- 1 ftp ftp 12 Mar 05 14:03 name");
        QTest::newRow("folder") << entry("drw", 4096, utc(2026, 1, 1))
                                << QByteArray("drwxr-xr-x 1 ftp ftp 4096 Jan 01 00:00 name");
        QTest::newRow("read-only file") << entry("-r", 0, utc(2025, 12, 31, 23, 59))
                                        << QByteArray("-r--r--r-- 1 ftp ftp 0 Dec 31 23:59 name");
        QTest::newRow("unreadable folder")
            << entry("dw", 0, utc(2026, 2, 1))
            << QByteArray("d-w------- 1 ftp ftp 0 Feb 01 00:00 name");
        QTest::newRow("link, size hidden")
            << entry("l", 99, utc(2026, 3, 1))
            << QByteArray("lrwxrwxrwx 1 ftp ftp 0 Mar 01 00:00 name");
        QTest::newRow("182 days old") << entry("-rw", 1, kNow.addDays(-182))
                                      << QByteArray("-rw-r--r-- 1 ftp ftp 1 Sep 09 12:00 name");
        QTest::newRow("183 days old") << entry("-rw", 1, kNow.addDays(-183))
                                      << QByteArray("-rw-r--r-- 1 ftp ftp 1 Sep 08  2025 name");
        QTest::newRow("clock skew") << entry("-rw", 1, kNow.addSecs(1800))
                                    << QByteArray("-rw-r--r-- 1 ftp ftp 1 Mar 10 12:30 name");
        QTest::newRow("future") << entry("-rw", 1, utc(2027, 1, 2))
                                << QByteArray("-rw-r--r-- 1 ftp ftp 1 Jan 02  2027 name");
        QTest::newRow("local time given")
            << entry("-rw", 1, QDateTime(QDate(2026, 3, 5), QTime(16, 3), QTimeZone(7200)))
            << QByteArray("-rw-r--r-- 1 ftp ftp 1 Mar 05 14:03 name");
        QTest::newRow("no date") << entry("-rw", 1, QDateTime())
                                 << QByteArray("-rw-r--r-- 1 ftp ftp 1 Jan 01  1970 name");
        QTest::newRow("big file") << entry("-rw", 5'000'000'000, utc(2026, 3, 1))
                                  << QByteArray(
                                         "-rw-r--r-- 1 ftp ftp 5000000000 Mar 01 00:00 name");
        QTest::newRow("odd name")
            << entry("-rw", 1, utc(2026, 3, 1), " -ünï x")
            << QByteArray("-rw-r--r-- 1 ftp ftp 1 Mar 01 00:00  -\xc3\xbcn\xc3\xaf x");
        QTest::newRow("line breaks cannot forge lines")
            << entry("-rw", 1, utc(2026, 3, 1), "a\r\nb")
            << QByteArray("-rw-r--r-- 1 ftp ftp 1 Mar 01 00:00 a??b");
    }
    void listLine() {
        QFETCH(FsEntry, e);
        QFETCH(QByteArray, expected);
        QCOMPARE(kv::engine::listLine(e, kNow), expected);
    }

    void everyMonthInEnglish() {
        QByteArrayList months;
        for (int m = 1; m <= 12; ++m)
            months << kv::engine::listLine(entry("-", 0, utc(2020, m, 1)), kNow).split(' ').at(5);
        QCOMPARE(months.join(' '), QByteArray("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec"));
    }

    void mlsxLine_data() {
        QTest::addColumn<FsEntry>("e");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("perm");
        QTest::addColumn<QByteArray>("expected");
        const QDateTime t = utc(2026, 3, 5, 14, 3, 0);
        const auto row = [](const char* name, const FsEntry& e, const QString& shown,
                            const QString& perm, const QByteArray& expected) {
            QTest::newRow(name) << e << shown << perm << expected;
        };
        row("file", entry("-rw", 12, t), "name", "rwdf",
            "type=file;size=12;modify=20260305140300;perm=rwdf; name");
        row("folder, no size", entry("drw", 4096, t), "/a dir", "elcmp",
            "type=dir;modify=20260305140300;perm=elcmp; /a dir");
        row("link, no perm", entry("l", 7, t), "ln", "",
            "type=OS.unix=slink;modify=20260305140300; ln");
        row("perm letters only", entry("-r", 1, t), "f", "r; w=x\xfc",
            "type=file;size=1;modify=20260305140300;perm=rw; f");
        row("line break in name", entry("-r", 1, t), "a\nb", "r",
            "type=file;size=1;modify=20260305140300;perm=r; a?b");
    }
    void mlsxLine() {
        QFETCH(FsEntry, e);
        QFETCH(QString, name);
        QFETCH(QString, perm);
        QFETCH(QByteArray, expected);
        QCOMPARE(kv::engine::mlsxLine(e, name, perm), expected);
    }

    void ftpTimestamp_data() {
        QTest::addColumn<QDateTime>("t");
        QTest::addColumn<QString>("expected");
        QTest::newRow("utc") << utc(2026, 12, 31, 23, 59, 58) << "20261231235958";
        QTest::newRow("offset converted")
            << QDateTime(QDate(2026, 1, 1), QTime(1, 0), QTimeZone(7200)) << "20251231230000";
        QTest::newRow("invalid") << QDateTime() << "19700101000000";
        QTest::newRow("early year padded") << utc(999, 1, 2, 3, 4, 5) << "09990102030405";
    }
    void ftpTimestamp() {
        QFETCH(QDateTime, t);
        QFETCH(QString, expected);
        QCOMPARE(kv::engine::ftpTimestamp(t), expected);
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "test_listing.moc"
