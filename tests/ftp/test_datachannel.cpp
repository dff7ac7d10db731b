// Data connections: passive ports of a data channel, the operator's range
// swept in full and reported busy when every port of it is taken, and the
// dynamic ports (with the kernel's choice as the last resort) when no range
// is set; which clients a PASV reply gives the public address; the PORT, EPRT
// and EPSV argument readers; ASCII-mode conversion, exact across any chunk
// boundary; listings as LIST, NLST and MLSD send them, a bounded piece at a
// time.

#include "ftp/DataAddress.h"
#include "ftp/DataChannel.h"
#include "ftp/LineEndings.h"
#include "ftp/Listing.h"
#include "ftp/ListingPieces.h"
#include "ftp/ListingWriter.h"
#include "net/ClientLocality.h"
#include "tests/support/DataRow.h"
#include "tests/support/TempTree.h"

#include <QFileInfo>
#include <QLocale>
#include <QTcpServer>
#include <QTest>
#include <QTimeZone>

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <vector>

using namespace kv::ftp;
using kv::files::FsEntry;
using namespace Qt::StringLiterals;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

// A run of `count` free consecutive ports below the kernel's ephemeral ones.
quint16 freeRun(int count) {
    for (int base = 21000; base < 32000; base += 97) {
        bool free = true;
        for (int p = base; p < base + count && free; ++p) {
            QTcpServer probe;
            free = probe.listen(kLoopback, quint16(p));
        }
        if (free)
            return quint16(base);
    }
    return 0;
}

PassiveSettings range(int first, int last) {
    return PassiveSettings{quint16(first), quint16(last), {}};
}

// `data` fed to `converter` in pieces of `chunk` bytes.
template <typename Converter>
QByteArray inChunks(Converter& converter, QByteArrayView data, int chunk) {
    QByteArray out, piece;
    for (qsizetype i = 0; i < data.size(); i += chunk) {
        converter.convert(data.sliced(i, std::min<qsizetype>(chunk, data.size() - i)), piece);
        out += piece;
    }
    return out;
}

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

class TestDataChannel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void busyRangeIsReportedNeverLeft() {
        const quint16 base = freeRun(3);
        QVERIFY(base != 0);
        std::vector<std::unique_ptr<QTcpServer>> taken;
        for (int p = base; p < base + 2; ++p) {
            taken.push_back(std::make_unique<QTcpServer>());
            QVERIFY(taken.back()->listen(kLoopback, quint16(p)));
        }
        DataChannel channel(kLoopback, EngineLimits{}, nullptr);
        // One port left of three: always found, whatever order is tried.
        for (int i = 0; i < 10; ++i) {
            channel.closeListener();
            QCOMPARE(channel.listenPassive(kLoopback, range(base, base + 2)).port,
                     quint16(base + 2));
        }
        taken.push_back(std::make_unique<QTcpServer>());
        channel.closeListener();
        QVERIFY(taken.back()->listen(kLoopback, quint16(base + 2)));
        const PassivePort full = channel.listenPassive(kLoopback, range(base, base + 2));
        QVERIFY(full.port == 0 && full.rangeBusy && !channel.isPassive());
        // A range of one busy port, the smallest demand that cannot be met.
        QVERIFY(channel.listenPassive(kLoopback, range(base, base)).rangeBusy);
    }

    void withoutARangeTheDynamicPortsThenAny() {
        DataChannel channel(kLoopback, EngineLimits{}, nullptr);
        const PassivePort opened = channel.listenPassive(kLoopback, PassiveSettings{});
        QVERIFY(opened.port >= 49152 && !opened.rangeBusy);
        // Dynamic ports all taken (a range of one, here): the kernel picks one.
        const quint16 base = freeRun(1);
        QTcpServer blocker;
        QVERIFY(blocker.listen(kLoopback, base));
        DataChannel fallback(
            kLoopback, EngineLimits{.passivePortFirst = base, .passivePortLast = base}, nullptr);
        const PassivePort any = fallback.listenPassive(kLoopback, PassiveSettings{});
        QVERIFY(any.port != 0 && any.port != base && !any.rangeBusy);
    }

    void otherFailuresAreNoBusyRange() {
        // An address this machine does not have fails at once, not as a busy range.
        DataChannel channel(kLoopback, EngineLimits{}, nullptr);
        const PassivePort opened =
            channel.listenPassive(QHostAddress("192.0.2.55"), range(40000, 40100));
        QVERIFY(opened.port == 0 && !opened.rangeBusy);
    }

    void activeAddress_data() {
        QTest::addColumn<bool>("extended");
        QTest::addColumn<QString>("arg");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        const int ok = int(DataAddressError::None), syntax = int(DataAddressError::Syntax);
        const auto row = [](const char* name, bool ext, const QString& arg, int error,
                            const QString& host = {}, int port = 0) {
            QTest::newRow(name) << ext << arg << error << host << port;
        };
        row("port valid", false, u" 127,0,0,1,4,1 "_s, ok, u"127.0.0.1"_s, 1025);
        row("port byte over 255", false, u"127,0,0,256,4,1"_s, syntax);
        row("port 0", false, u"127,0,0,1,0,0"_s, syntax);
        row("port five fields", false, u"127,0,0,1,4"_s, syntax);
        row("port garbage", false, u"a,b,c,d,e,f"_s, syntax);
        row("eprt ipv4", true, u"|1|127.0.0.1|40000|"_s, ok, u"127.0.0.1"_s, 40000);
        row("eprt ipv6 other delimiter", true, u"!2!::1!2121!"_s, ok, u"::1"_s, 2121);
        row("eprt port over 65535", true, u"|1|127.0.0.1|65536|"_s, syntax);
        row("eprt protocol 9", true, u"|9|x|1|"_s, int(DataAddressError::Protocol));
        row("eprt ipv4 in 2", true, u"|2|127.0.0.1|40000|"_s, syntax);
        row("eprt three delimiters", true, u"|1|127.0.0.1|40000"_s, syntax);
        row("eprt garbage", true, u"hello"_s, syntax);
        row("eprt overlong", true, u"|1|"_s + QString(5000, u'9') + u"|1|"_s, syntax);
    }
    void activeAddress() {
        QFETCH(bool, extended);
        QFETCH(QString, arg);
        const DataAddress a = extended ? parseEprtArgument(arg) : parsePortArgument(arg);
        QTEST(int(a.error), "error");
        QTEST(a.ok() ? a.host.toString() : QString(), "host");
        QTEST(int(a.port), "port");
    }

    void activeTargetIsTheClientForTheUnspecifiedAddress_data() {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("target");
        addRow("eprt :: (lftp)", u"|2|::|40000|"_s, u"::1"_s, u"::1"_s);
        addRow("eprt 0.0.0.0", u"|1|0.0.0.0|40000|"_s, u"10.0.0.7"_s, u"10.0.0.7"_s);
        addRow("port 0,0,0,0", u"0,0,0,0,156,64"_s, u"10.0.0.7"_s, u"10.0.0.7"_s);
        addRow("eprt named address kept", u"|2|2001:db8::1|40000|"_s, u"::1"_s, u"2001:db8::1"_s);
        addRow("eprt mapped any kept apart", u"|2|::ffff:0.0.0.0|40000|"_s, u"::1"_s,
               u"::ffff:0.0.0.0"_s);
    }
    void activeTargetIsTheClientForTheUnspecifiedAddress() {
        QFETCH(QString, arg);
        QFETCH(QString, client);
        const DataAddress named =
            arg.contains(u'|') ? parseEprtArgument(arg) : parsePortArgument(arg);
        QVERIFY(named.ok());
        QTEST(activeTarget(named, QHostAddress(client)).toString(), "target");
    }

    void epsv() {
        // No argument, "EPSV 2" and "EPSV ALL": test_ftpserver's data addresses.
        QCOMPARE(parseEpsvArgument(u" 1 ", true), EpsvRequest::Listen);
        QCOMPARE(parseEpsvArgument(u"all", false), EpsvRequest::All);
    }

    void asciiConversionIsIndependentOfChunking_data() {
        QTest::addColumn<QByteArray>("disk");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("back"); // what an upload of `wire` stores
        addRow("unix lines", "a\nb\n"_ba, "a\r\nb\r\n"_ba, "a\nb\n"_ba);
        addRow("already crlf", "a\r\nb"_ba, "a\r\nb"_ba, "a\nb"_ba);
        addRow("lone cr kept", "a\rb\r"_ba, "a\rb\r"_ba, "a\rb\r"_ba);
        addRow("empty lines", "\n\n"_ba, "\r\n\r\n"_ba, "\n\n"_ba);
        addRow("binary bytes", "\0\xff\n"_ba, "\0\xff\r\n"_ba, "\0\xff\n"_ba);
        addRow("empty", QByteArray(), QByteArray(), QByteArray());
    }
    void asciiConversionIsIndependentOfChunking() {
        QFETCH(QByteArray, disk);
        QFETCH(QByteArray, wire);
        // Every chunk size, including 1 byte, which splits every CR LF pair.
        for (int chunk = 1; chunk <= std::max<qsizetype>(1, wire.size()); ++chunk) {
            AsciiEncoder encoder;
            QCOMPARE(inChunks(encoder, disk, chunk), wire);
            AsciiDecoder decoder;
            const QByteArray stored = inChunks(decoder, wire, chunk);
            QTEST(stored + decoder.finish(), "back");
        }
    }

    void clientLocality_data() {
        QTest::addColumn<QString>("client");
        QTest::addColumn<bool>("local");
        // The last two local ones are inside this machine's own subnets below.
        for (const char* address :
             {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.2", "169.254.10.1", "fe80::1",
              "10.0.0.1", "10.255.255.255", "::ffff:10.1.2.3", "172.16.0.1", "172.31.255.254",
              "192.168.1.20", "100.64.0.1", "100.127.255.255", "fc00::1", "fd12:3456::7",
              "198.51.100.20", "2001:db8:1::5"})
            QTest::newRow(address) << QString(address) << true;
        // Just outside each range: from the Internet.
        for (const char* address :
             {"11.0.0.1", "9.255.255.255", "172.15.255.255", "172.32.0.1", "192.169.0.1",
              "100.63.255.255", "100.128.0.1", "169.253.255.255", "128.0.0.1", "8.8.8.8",
              "::ffff:8.8.8.8", "198.51.101.1", "fe00::1", "2001:db8:2::5", "2a00:1450::1"})
            QTest::newRow(address) << QString(address) << false;
    }
    void clientLocality() {
        QFETCH(QString, client);
        const QList<kv::net::Subnet> own = {QHostAddress::parseSubnet("198.51.100.7/24"),
                                            QHostAddress::parseSubnet("2001:db8:1::1/64")};
        QTEST(kv::net::isLocalClient(QHostAddress(client), own), "local");
    }

    void machineSubnetsHoldLoopback() {
        // Every machine has loopback up; its own subnets count as local.
        const QList<kv::net::Subnet> subnets = kv::net::machineSubnets();
        QVERIFY(!subnets.isEmpty());
        QVERIFY(std::ranges::any_of(subnets,
                                    [](const kv::net::Subnet& s) { return s.first.isLoopback(); }));
        QVERIFY(
            std::ranges::none_of(subnets, [](const kv::net::Subnet& s) { return s.second == 0; }));
    }

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
        QTEST(kv::ftp::listLine(e, kNow), "expected");
    }

    void everyMonthInEnglish() {
        QByteArrayList months;
        for (int m = 1; m <= 12; ++m)
            months << kv::ftp::listLine(entry("-", 0, utc(2020, m, 1)), kNow).split(' ').at(5);
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
        QTEST(kv::ftp::mlsxLine(e, name, perm), "expected");
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
        QTEST(kv::ftp::mlsxLine(entry("-rw", 12, t), "f", "rw", facts), "fileLine");
        QTEST(kv::ftp::mlsxLine(entry("drw", 0, t), "d", "el", facts), "folderLine");
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
            expectedLong += kv::ftp::listLine(e, kNow) + "\r\n";
            expectedMachine += kv::ftp::mlsxLine(e, e.name, perm) + "\r\n";
        }
        QCOMPARE(longForm.take(), expectedLong);
        QCOMPARE(machine.take(), expectedMachine);
    }

    // A folder's listing in pieces of about 16 KiB, whatever the folder's
    // size: a client that stops reading holds one piece, not the listing.
    void listingComesInBoundedPieces_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<bool>("filtered");
        addRow("LIST", int(ListingPieces::Format::Long), QByteArray(), false);
        addRow("MLSD", int(ListingPieces::Format::Machine), QByteArray(), false);
        addRow("NLST of a named folder", int(ListingPieces::Format::Names), "sub/"_ba, false);
        addRow("NLST *7.txt", int(ListingPieces::Format::Names), QByteArray(), true);
    }
    void listingComesInBoundedPieces() {
        QFETCH(int, format);
        QFETCH(QByteArray, prefix);
        QFETCH(bool, filtered);
        static TempTree tree;
        if (!QFileInfo::exists(tree.at("f1999.txt"))) {
            for (int i = 0; i < 2000; ++i)
                QVERIFY(tree.make({u"f%1.txt"_s.arg(i, 4, 10, QChar(u'0'))}));
        }
        auto entries = std::make_shared<kv::files::FolderEntries>(
            kv::files::UniqueFd(::open(QFile::encodeName(tree.path()).constData(),
                                       O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
            kv::files::FolderEntries::Follow(), format == int(ListingPieces::Format::Names));
        std::optional<QRegularExpression> filter;
        if (filtered)
            filter = QRegularExpression(QRegularExpression::wildcardToRegularExpression(
                u"*7.txt"_s, QRegularExpression::UnanchoredWildcardConversion));
        ListingPieces pieces(entries, ListingPieces::Format(format), kNow, filter, prefix,
                             [](const FsEntry&) { return QByteArrayView("r"); });
        QByteArray all;
        int count = 0;
        for (QByteArray piece = pieces.next(); !piece.isEmpty() && count < 1000;
             piece = pieces.next(), ++count) {
            // One line past the mark at most, of a batch of 32 entries.
            QVERIFY2(piece.size() < ListingPieces::kPieceBytes + 32 * 120,
                     qPrintable(QString::number(piece.size())));
            QVERIFY(piece.endsWith("\r\n"));
            all += piece;
        }
        QVERIFY(pieces.next().isEmpty());
        QList<QByteArray> lines = all.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray()); // after the last CRLF
        QCOMPARE(lines.size(), filtered ? 200 : 2000);
        QVERIFY(count >= (filtered ? 1 : all.size() / (ListingPieces::kPieceBytes + 32 * 120)));
        for (int i = 0; i < lines.size(); ++i) {
            const QByteArray name =
                u"f%1.txt"_s.arg(filtered ? i * 10 + 7 : i, 4, 10, QChar(u'0')).toUtf8();
            QVERIFY2(lines[i].endsWith(" " + name + "\r") || lines[i] == prefix + name + "\r",
                     lines[i].constData());
        }
    }

    void namesWithPrefix() {
        ListingWriter w(kNow, 2);
        w.addName("sub dir/", u"f\u00fc.txt"_s);
        w.addName({}, u"a\r\nb"_s);
        QCOMPARE(w.take(), "sub dir/f\xc3\xbc.txt\r\na??b\r\n"_ba);
    }
};

QTEST_GUILESS_MAIN(TestDataChannel)
#include "test_datachannel.moc"
