#include "monitor/ActivityLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/stat.h>
#endif

using namespace kv::monitor;

namespace {

struct Screen : LogScreen {
    QStringList lines;
    void ShowLogLine(const QString& line) override { lines << line; }
};

int fileMode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestActivityLog : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    Screen screen_;
    QString path() const { return dir_.filePath(QStringLiteral("ftp.log")); }
    QString rotated(int n) const { return rotatedLogPath(path(), n); }
    ActivityLog logger(
        LogRotation rotation = {}, ActivityLog::Switch on = [] { return true; }) {
        ActivityLog log(screen_, std::move(on), path());
        log.setRotation(rotation);
        return log;
    }
    void write(const QByteArray& text) {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    }

private Q_SLOTS:
    void init() {
        QDir(dir_.path()).removeRecursively(); // rotated files and blockers too
        QDir().mkpath(dir_.path());
        screen_.lines.clear();
    }

    void engineLineFormats() {
        const QTime t(14, 5, 9);
        // Spaces trimmed inside the brackets only; line breaks kept out.
        QCOMPARE(EngineLogLine(QTime(0, 0, 1), "  ", " x "), u"[00:00:01]  x ");
        QCOMPARE(EngineLogLine(t, "", "USER a\r\n[x] SERVER STOP\nb\r"),
                 u"[14:05:09] USER a [x] SERVER STOP b");
        // Other control and format characters from clients show escaped.
        QCOMPARE(EngineLogLine(t, "10.0.0.1", QStringLiteral("550 a\u202eb\u0085c\x1b: No such")),
                 u"[14:05:09 10.0.0.1] 550 a\\u202eb\\x85c\\x1b: No such");
    }

    void fileFollowsTheSwitchLineByLine() {
        write("old line\r\n");
        bool on = false;
        ActivityLog log = logger({}, [&] { return on; });
        QCOMPARE(log.WriteLog(QStringLiteral("one")), ActivityLog::FileOutcome::NotLogging);
        QCOMPARE(contents(path()), QByteArray("old line\r\n"));
        on = true;
        QCOMPARE(log.WriteLog(QString()), ActivityLog::FileOutcome::Written);
        QCOMPARE(log.WriteLog(QStringLiteral("è due")), ActivityLog::FileOutcome::Written);
        on = false;
        log.WriteLog(QStringLiteral("three"));
        QCOMPARE(screen_.lines, (QStringList{"one", "", "è due", "three"}));
        // The existing file is appended to, never rewritten.
        QCOMPARE(contents(path()), QStringLiteral("old line\r\n\r\nè due\r\n").toLocal8Bit());
    }

    void aFailingFileIsToldOnceAndItsRecoveryWithTheLinesLost() {
        const QString folder = dir_.filePath(QStringLiteral("later"));
        QStringList warned;
        ActivityLog log(
            screen_, [] { return true; }, folder + QStringLiteral("/ftp.log"),
            [&](const QString& text) { warned << text; });
        for (const char* line : {"one", "two", "three"})
            QCOMPARE(log.WriteLog(QString::fromLatin1(line)), ActivityLog::FileOutcome::Failed);
        QCOMPARE(warned.size(), 1);
        QVERIFY(warned[0].startsWith(u"Impossibile scrivere nel file di log "));
        QCOMPARE(screen_.lines, (QStringList{"one", warned[0], "two", "three"}));

        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(log.WriteLog(QStringLiteral("four")), ActivityLog::FileOutcome::Written);
        QCOMPARE(log.WriteLog(QStringLiteral("five")), ActivityLog::FileOutcome::Written);
        QCOMPARE(warned.size(), 2);
        QVERIFY(warned[1].endsWith(u"ripresa: 3 righe non registrate"));
        QCOMPARE(screen_.lines.mid(4), (QStringList{"four", warned[1], "five"}));
        // The note of the gap comes before the first line that made it.
        QCOMPARE(contents(folder + QStringLiteral("/ftp.log")),
                 warned[1].toLocal8Bit() + "\r\nfour\r\nfive\r\n");
    }

#ifdef Q_OS_UNIX
    void aLineCutShortByAFullDiskIsTakenBack() {
        write("[00:00:00] earlier line\r\n");
        QStringList warned;
        ActivityLog log(
            screen_, [] { return true; }, path(), [&](const QString& text) { warned << text; });
        // A file-size limit a few bytes past the end: the next line fits in part only.
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit tight = saved;
        tight.rlim_cur = 30;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tight), 0);
        const auto outcome = log.WriteLog(QStringLiteral("[00:00:01] a line too long to fit"));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(outcome, ActivityLog::FileOutcome::Failed);
        QCOMPARE(contents(path()), QByteArray("[00:00:00] earlier line\r\n"));
        QCOMPARE(warned.size(), 1);
        QCOMPARE(log.WriteLog(QStringLiteral("after")), ActivityLog::FileOutcome::Written);
        QVERIFY(contents(path()).endsWith("\r\nafter\r\n"));
    }
#endif

    // Lines from the bus: the file takes those meant for it, never the
    // notes about itself, and a session's text is stamped with the time and
    // the client's address.
    void busLinesGoToTheFileNotesDoNot() {
        ActivityLog log = logger();
        const auto stamp = sessionLineStamp([] { return QDateTime({2026, 1, 2}, {9, 8, 7}); });
        kv::events::LogLine fromSession;
        fromSession.text = QStringLiteral("230 User bob logged in.");
        fromSession.address = QStringLiteral("10.0.0.5");
        fromSession.line = stamp(fromSession.address, fromSession.text);
        fromSession.session = kv::events::SessionInfo{4, "10.0.0.5", "bob"};
        QCOMPARE(fromSession.line, u"[09:08:07 10.0.0.5] 230 User bob logged in.");
        QCOMPARE(stamp(QString(), QStringLiteral("USER bob")), u"[09:08:07] USER bob");
        log.record(fromSession);
        kv::events::LogLine note = serverLogLine(QStringLiteral("Impossibile ruotare ..."));
        note.forFile = false;
        log.record(note);
        log.record(serverLogLine(QStringLiteral("[02-01-2026 09:08:07] SERVER STOP")));
        QCOMPARE(contents(path()), QByteArray("[09:08:07 10.0.0.5] 230 User bob logged in.\r\n"
                                              "[02-01-2026 09:08:07] SERVER STOP\r\n"));
        QVERIFY(screen_.lines.isEmpty()); // the screens take them from the bus
    }

    void linesSurviveRotationsWholeAndTheOldestFileGoes() {
        ActivityLog log = logger({100, 3});
        const auto line = [](int i) { return QStringLiteral("line %1").arg(i, 3, 10, QChar('0')); };
        for (int i = 0; i < 45; ++i) // lines of 10 bytes: a rotation every 10 lines
            QCOMPARE(log.WriteLog(line(i)), ActivityLog::FileOutcome::Written);
        QByteArray text; // oldest first
        for (int n = 3; n >= 0; --n) {
            const QByteArray file = contents(n ? rotated(n) : path());
            QVERIFY(file.size() <= 100);
            QVERIFY(file.endsWith("\r\n")); // no line split across files
            text += file;
        }
        // Four rotations: the first ten lines went with the oldest file, no line twice.
        QCOMPARE(text.count('\n'), 35);
        for (int i = 0; i < 35; ++i)
            QCOMPARE(text.split('\n')[i], (line(i + 10) + '\r').toLatin1());
        QVERIFY(!QFile::exists(rotated(4)));
    }

    void withoutALimitTheFileOnlyGrows() {
        write(QByteArray(5000, 'x'));
        ActivityLog log = logger({0, 5});
        log.WriteLog(QStringLiteral("more"));
        QCOMPARE(contents(path()).size(), 5000 + 6);
        QVERIFY(!QFile::exists(rotated(1)));
        // A line longer than the limit still gets written, in a file of its own.
        log.setRotation({10, 0});
        log.WriteLog(QString(40, QLatin1Char('y')));
        QCOMPARE(contents(path()), QByteArray(40, 'y') + "\r\n");
        QCOMPARE(contents(rotated(1)).size(), 5006); // kept, never deleted
    }

    // The log holds addresses and logins: a log made here is its owner's
    // only, or also the group's in a folder shared with a group (set-group-ID),
    // as accounts.dat is, whatever the umask; the files rotated away keep
    // that mode, and a log that was already there keeps its own.
    void aNewLogTakesTheDataFolderMode_data() {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("umask");
        QTest::addColumn<int>("logMode");
        QTest::newRow("private folder, open umask") << 0755 << 0000 << 0600;
        QTest::newRow("private folder, usual umask") << 0700 << 0022 << 0600;
        QTest::newRow("group folder, strict umask") << 02770 << 0077 << 0660;
    }
    void aNewLogTakesTheDataFolderMode() {
        QFETCH(int, folderMode);
        QFETCH(int, umask);
        QFETCH(int, logMode);
        QVERIFY(::chmod(QFile::encodeName(dir_.path()).constData(), mode_t(folderMode)) == 0);
        const mode_t old = ::umask(mode_t(umask));
        {
            ActivityLog log = logger({20, 2});
            for (int i = 0; i < 5; ++i)
                QCOMPARE(log.WriteLog(QStringLiteral("riga %1 del log").arg(i)),
                         ActivityLog::FileOutcome::Written);
        }
        ::umask(old);
        QCOMPARE(fileMode(path()), logMode);
        QCOMPARE(fileMode(rotated(1)), logMode);
        QCOMPARE(fileMode(rotated(2)), logMode);

        QVERIFY(QFile::remove(path()));
        write("kept\r\n");
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0644) == 0);
        logger().WriteLog(QStringLiteral("more"));
        QCOMPARE(fileMode(path()), 0644);
        QCOMPARE(contents(path()), QByteArray("kept\r\nmore\r\n"));
    }

    void aFailedRotationKeepsAppendingAndSaysSoOnce() {
        QVERIFY(QDir().mkpath(rotated(1) + QStringLiteral("/blocker")));
        ActivityLog log = logger({10, 1});
        for (const char* line : {"first line", "second line", "third line"})
            log.WriteLog(QString::fromLatin1(line));
        QCOMPARE(contents(path()), QByteArray("first line\r\nsecond line\r\nthird line\r\n"));
        QCOMPARE(screen_.lines.filter(QStringLiteral("Impossibile ruotare")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestActivityLog)
#include "test_activitylog.moc"
