#include "engine/Listing.h"
#include "engine/ListingWriter.h"
#include "tests/support/DataRow.h"

#include <QLocale>
#include <QTest>
#include <QTimeZone>

using namespace kv::engine;
using kv::files::FsEntry;
using namespace Qt::Literals::StringLiterals;

namespace {
const QDateTime kNow(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC);

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// "d" folder, "l" link, "-" file; then "r"/"w" for what the server may do.
FsEntry entry(const QString& kind, qint64 size, const QDateTime& modified,
              const QString& name = "name") {
    return FsEntry{name,     kind.startsWith('d'), kind.startsWith('l'), size,
                   modified, kind.contains('r'),   kind.contains('w')};
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
        addRow("recent file", entry("-rw", 12, utc(2026, 3, 5, 14, 3, 59)),
               "-rw-r--r-- 1 ftp ftp 12 Mar 05 14:03 name"_ba);
        addRow("folder", entry("drw", 4096, utc(2026, 1, 1)),
               "drwxr-xr-x 1 ftp ftp 4096 Jan 01 00:00 name"_ba);
        addRow("read-only file", entry("-r", 0, utc(2025, 12, 31, 23, 59)),
               "-r--r--r-- 1 ftp ftp 0 Dec 31 23:59 name"_ba);
        addRow("unreadable folder", entry("dw", 0, utc(2026, 2, 1)),
               "d-w------- 1 ftp ftp 0 Feb 01 00:00 name"_ba);
        addRow("link, size hidden", entry("l", 99, utc(2026, 3, 1)),
               "lrwxrwxrwx 1 ftp ftp 0 Mar 01 00:00 name"_ba);
        addRow("182 days old", entry("-rw", 1, kNow.addDays(-182)),
               "-rw-r--r-- 1 ftp ftp 1 Sep 09 12:00 name"_ba);
        addRow("183 days old", entry("-rw", 1, kNow.addDays(-183)),
               "-rw-r--r-- 1 ftp ftp 1 Sep 08  2025 name"_ba);
        addRow("clock skew", entry("-rw", 1, kNow.addSecs(1800)),
               "-rw-r--r-- 1 ftp ftp 1 Mar 10 12:30 name"_ba);
        addRow("future", entry("-rw", 1, utc(2027, 1, 2)),
               "-rw-r--r-- 1 ftp ftp 1 Jan 02  2027 name"_ba);
        addRow("local time given",
               entry("-rw", 1, QDateTime(QDate(2026, 3, 5), QTime(16, 3), QTimeZone(7200))),
               "-rw-r--r-- 1 ftp ftp 1 Mar 05 14:03 name"_ba);
        addRow("no date", entry("-rw", 1, QDateTime()),
               "-rw-r--r-- 1 ftp ftp 1 Jan 01  1970 name"_ba);
        addRow("before 1970", entry("-rw", 1, utc(1969, 12, 31, 23, 59, 30)),
               "-rw-r--r-- 1 ftp ftp 1 Dec 31  1969 name"_ba);
        addRow("big file", entry("-rw", 5'000'000'000, utc(2026, 3, 1)),
               "-rw-r--r-- 1 ftp ftp 5000000000 Mar 01 00:00 name"_ba);
        addRow("odd name", entry("-rw", 1, utc(2026, 3, 1), " -ünï x"),
               "-rw-r--r-- 1 ftp ftp 1 Mar 01 00:00  -\xc3\xbcn\xc3\xaf x"_ba);
        addRow("line breaks cannot forge lines", entry("-rw", 1, utc(2026, 3, 1), "a\r\nb"),
               "-rw-r--r-- 1 ftp ftp 1 Mar 01 00:00 a??b"_ba);
    }
    void listLine() {
        QFETCH(FsEntry, e);
        QTEST(kv::engine::listLine(e, kNow), "expected");
    }

    void everyMonthInEnglish() {
        QByteArrayList months;
        for (int m = 1; m <= 12; ++m)
            months << kv::engine::listLine(entry("-", 0, utc(2020, m, 1)), kNow).split(' ').at(5);
        QCOMPARE(months.join(' '), "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec"_ba);
    }

    void mlsxLine_data() {
        QTest::addColumn<FsEntry>("e");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("perm");
        QTest::addColumn<QByteArray>("expected");
        const QDateTime t = utc(2026, 3, 5, 14, 3, 7);
        addRow("file", entry("-rw", 12, t), "name", "rwdf",
               "type=file;size=12;modify=20260305140307;perm=rwdf; name"_ba);
        addRow("folder, no size", entry("drw", 4096, t), "/a dir", "elcmp",
               "type=dir;modify=20260305140307;perm=elcmp; /a dir"_ba);
        addRow("link, no perm", entry("l", 7, t), "ln", "",
               "type=OS.unix=slink;modify=20260305140307; ln"_ba);
        addRow("perm letters only", entry("-r", 1, t), "f", "r; w=x\xfc",
               "type=file;size=1;modify=20260305140307;perm=rw; f"_ba);
        addRow("line break in name", entry("-r", 1, t), "a\nb", "r",
               "type=file;size=1;modify=20260305140307;perm=r; a?b"_ba);
        addRow("modify in utc",
               entry("-", 1, QDateTime(QDate(2026, 1, 1), QTime(1, 0), QTimeZone(7200))), "f", "",
               "type=file;size=1;modify=20251231230000; f"_ba);
        addRow("no date", entry("-", 1, QDateTime()), "f", "",
               "type=file;size=1;modify=19700101000000; f"_ba);
        addRow("before 1970", entry("-", 1, utc(1969, 12, 31, 23, 59, 30)), "f", "r",
               "type=file;size=1;modify=19691231235930;perm=r; f"_ba);
    }
    void mlsxLine() {
        QFETCH(FsEntry, e);
        QFETCH(QString, name);
        QFETCH(QString, perm);
        QTEST(kv::engine::mlsxLine(e, name, perm), "expected");
    }

    // OPTS MLST: the facts chosen, in their fixed order, whatever the client
    // wrote; unknown names are left out, and the line without facts is the
    // space and the name.
    void selectedFacts_data() {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QByteArray>("fileLine");
        QTest::addColumn<QByteArray>("folderLine");
        addRow("all", "type;size;modify;perm;", "type;size;modify;perm;",
               "type*;size*;modify*;perm*;",
               "type=file;size=12;modify=20260305140307;perm=rw; f"_ba,
               "type=dir;modify=20260305140307;perm=el; d"_ba);
        addRow("order and case of the client", "PERM;Size", "size;perm;",
               "type;size*;modify;perm*;", "size=12;perm=rw; f"_ba, "perm=el; d"_ba);
        addRow("unknown and spaces", " type ;unique;media-type;", "type;",
               "type*;size;modify;perm;", "type=file; f"_ba, "type=dir; d"_ba);
        addRow("modify alone", "modify", "modify;", "type;size;modify*;perm;",
               "modify=20260305140307; f"_ba, "modify=20260305140307; d"_ba);
        addRow("none", "", "", "type;size;modify;perm;", " f"_ba, " d"_ba);
    }
    void selectedFacts() {
        QFETCH(QString, asked);
        const MlstFacts facts = MlstFacts::fromList(asked);
        QTEST(facts.selected(), "selected");
        QTEST(facts.offered(), "offered");
        const QDateTime t = utc(2026, 3, 5, 14, 3, 7);
        QTEST(kv::engine::mlsxLine(entry("-rw", 12, t), "f", "rw", facts), "fileLine");
        QTEST(kv::engine::mlsxLine(entry("drw", 0, t), "d", "el", facts), "folderLine");
        QCOMPARE(MlstFacts::fromList(facts.selected()), facts);
    }

    // A whole folder in one buffer: every line as it would be alone, whatever
    // the entries before it (the date pieces of one day and the perm fact of
    // the same letters are reused).
    void writerLinesMatchSingleLines_data() {
        QTest::addColumn<QList<FsEntry>>("entries");
        const QDateTime day = utc(2026, 3, 5, 10, 0);
        addRow("same day, other times",
               QList{entry("-rw", 1, day, "a"), entry("-rw", 2, day.addSecs(3599), "b"),
                     entry("drw", 3, day.addSecs(-36000), "c")});
        addRow("day changes back and forth",
               QList{entry("-rw", 1, day, "a"), entry("-rw", 1, day.addDays(-1), "b"),
                     entry("-rw", 1, day, "c"), entry("-rw", 1, utc(2025, 3, 5), "d")});
        addRow("same day of another year",
               QList{entry("-rw", 1, utc(2024, 3, 5), "a"), entry("-rw", 1, utc(2025, 3, 5), "b")});
        addRow("around 1970", QList{entry("-rw", 1, utc(1970, 1, 1), "a"),
                                    entry("-rw", 1, utc(1969, 12, 31, 12), "b"),
                                    entry("-rw", 1, QDateTime(), "c")});
    }
    void writerLinesMatchSingleLines() {
        QFETCH(QList<FsEntry>, entries);
        ListingWriter longForm(kNow, entries.size());
        ListingWriter machine(kNow, entries.size());
        QByteArray expectedLong, expectedMachine;
        const char* const perms[] = {"r", "r", "elcdfmp", "", "r"};
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const FsEntry& e = entries[i];
            const char* const perm = perms[i % 5];
            longForm.addLong(e);
            machine.addMachine(e, e.name, perm);
            expectedLong += kv::engine::listLine(e, kNow) + "\r\n";
            expectedMachine += kv::engine::mlsxLine(e, e.name, perm) + "\r\n";
        }
        QCOMPARE(longForm.take(), expectedLong);
        QCOMPARE(machine.take(), expectedMachine);
    }

    void namesWithPrefix() {
        ListingWriter w(kNow, 2);
        w.addName("sub dir/", u"f\u00fc.txt"_s);
        w.addName({}, u"a\r\nb"_s);
        QCOMPARE(w.take(), "sub dir/f\xc3\xbc.txt\r\na??b\r\n"_ba);
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "test_listing.moc"
