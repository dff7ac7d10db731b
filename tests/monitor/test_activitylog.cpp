#include "monitor/ActivityLog.h"
#include "tests/support/FakeConnection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::monitor;
using kv::testing::FakeConnection;

namespace {

struct Screen : LogScreen {
    QStringList lines;
    void ShowLogLine(const QString& line) override { lines << line; }
};

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestActivityLog : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path() const { return dir_.filePath(QStringLiteral("ftp.log")); }

    // Every line of the log and its rotated files, oldest first.
    QList<QByteArray> allLines(int keep) const {
        QByteArray text;
        for (int n = keep; n >= 1; --n)
            text += contents(rotatedLogPath(path(), n));
        text += contents(path());
        QList<QByteArray> lines = text.split('\n');
        lines.removeLast(); // after the last line end
        return lines;
    }

private Q_SLOTS:
    void init() {
        QDir(dir_.path()).removeRecursively(); // rotated files and blockers too
        QDir().mkpath(dir_.path());
    }

    void lineFormats_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        const QDateTime at(QDate(2026, 12, 5), QTime(20, 49, 3));
        const QTime t(14, 5, 9);
        QTest::newRow("engine, logged in")
            << EngineLogLine(t, "192.168.1.20", "USER bob") << "[14:05:09 192.168.1.20] USER bob";
        QTest::newRow("engine, no address") << EngineLogLine(t, "", "NOOP") << "[14:05:09] NOOP";
        QTest::newRow("engine, spaces trimmed inside only")
            << EngineLogLine(QTime(0, 0, 1), "  ", " x ") << "[00:00:01]  x ";
        QTest::newRow("engine, line breaks kept out")
            << EngineLogLine(t, "", "USER a\r\n[x] SERVER STOP\nb\r")
            << "[14:05:09] USER a [x] SERVER STOP b";
        QTest::newRow("start") << StartLogLine(at, "192.168.1.10")
                               << "[05-12-2026 20:49:03] SERVER START ON IP 192.168.1.10";
        QTest::newRow("stop, afternoon hour")
            << StopLogLine(at.addSecs(3 * 3600)) << "[05-12-2026 23:49:03] SERVER STOP";
    }
    void lineFormats() {
        QFETCH(QString, line);
        QTEST(line, "expected");
    }

    void fileFollowsTheSwitchLineByLine() {
        {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old line\r\n");
        }
        Screen screen;
        bool on = false;
        ActivityLog log(
            screen, [&] { return on; }, path());
        QCOMPARE(log.WriteLog(QStringLiteral("one")), ActivityLog::FileOutcome::NotLogging);
        QCOMPARE(contents(path()), QByteArray("old line\r\n"));
        on = true;
        QCOMPARE(log.WriteLog(QString()), ActivityLog::FileOutcome::Written);
        QCOMPARE(log.WriteLog(QStringLiteral("è due")), ActivityLog::FileOutcome::Written);
        on = false;
        log.WriteLog(QStringLiteral("three"));
        QCOMPARE(screen.lines, (QStringList{"one", "", "è due", "three"}));
        // The existing file is appended to, never rewritten.
        QCOMPARE(contents(path()), QStringLiteral("old line\r\n\r\nè due\r\n").toLocal8Bit());
    }

    void unwritableFileStillShowsTheLine() {
        // A path below a regular file cannot be opened, whoever runs the test.
        QFile blocker(dir_.filePath(QStringLiteral("plain")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Screen screen;
        ActivityLog log(
            screen, [] { return true; }, blocker.fileName() + QStringLiteral("/ftp.log"));
        QCOMPARE(log.WriteLog(QStringLiteral("kept")), ActivityLog::FileOutcome::Failed);
        QCOMPARE(screen.lines, QStringList{"kept"});
    }

    void engineLinesCarryTheRecordsAddress() {
        Screen screen;
        ActivityLog log(
            screen, [] { return true; }, path());
        kv::access::ConnectedUsers users;
        const QDateTime at(QDate(2026, 1, 2), QTime(9, 8, 7));
        EngineLineLogger engineLines(log, users, [&] { return at; });
        FakeConnection before;
        engineLines.LogLine(before, QStringLiteral("USER bob"));
        FakeConnection after;
        const qint32 n = users.Append();
        users.record(n)->setAddress(QStringLiteral("10.0.0.5") + QChar(u'\0'));
        after.setTag(n);
        engineLines.LogLine(after, QStringLiteral("230 User bob logged in."));
        FakeConnection stale;
        stale.setTag(99);
        engineLines.LogLine(stale, QStringLiteral("QUIT"));
        QCOMPARE(screen.lines,
                 (QStringList{"[09:08:07] USER bob", "[09:08:07 10.0.0.5] 230 User bob logged in.",
                              "[09:08:07] QUIT"}));
        QCOMPARE(contents(path()).count("\r\n"), 3);
    }

    void linesSurviveSeveralRotationsWhole() {
        Screen screen;
        ActivityLog log(
            screen, [] { return true; }, path());
        log.setRotation({100, 3});
        for (int i = 0; i < 35; ++i) // lines of 10 bytes: a rotation every 10 lines
            QCOMPARE(log.WriteLog(QStringLiteral("line %1").arg(i, 3, 10, QLatin1Char('0'))),
                     ActivityLog::FileOutcome::Written);

        const QList<QByteArray> lines = allLines(3);
        QCOMPARE(lines.size(), 35); // three rotations: nothing dropped yet, nothing twice
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(lines[i],
                     QStringLiteral("line %1\r").arg(i, 3, 10, QLatin1Char('0')).toLatin1());
        for (int n = 0; n <= 3; ++n) {
            const QString file = n ? rotatedLogPath(path(), n) : path();
            QVERIFY(contents(file).size() <= 100);
            QVERIFY(contents(file).endsWith("\r\n")); // no line split across files
        }
        QVERIFY(!QFile::exists(rotatedLogPath(path(), 4)));
    }

    void oldestFilesAreDroppedBeyondTheNumberKept() {
        Screen screen;
        ActivityLog log(
            screen, [] { return true; }, path());
        log.setRotation({20, 2});
        for (const char* word :
             {"aaaaaaaaaaaaaaaa", "bbbbbbbbbbbbbbbb", "cccccccccccccccc", "dddddddddddddddd"})
            log.WriteLog(QString::fromLatin1(word));
        QCOMPARE(contents(path()), QByteArray("dddddddddddddddd\r\n"));
        QCOMPARE(contents(rotatedLogPath(path(), 1)), QByteArray("cccccccccccccccc\r\n"));
        QCOMPARE(contents(rotatedLogPath(path(), 2)), QByteArray("bbbbbbbbbbbbbbbb\r\n"));
        QVERIFY(!QFile::exists(rotatedLogPath(path(), 3)));
    }

    void withoutALimitTheFileOnlyGrows() {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(5000, 'x'));
        f.close();
        Screen screen;
        ActivityLog log(
            screen, [] { return true; }, path());
        log.setRotation({0, 5});
        log.WriteLog(QStringLiteral("more"));
        QCOMPARE(contents(path()).size(), 5000 + 6);
        QVERIFY(!QFile::exists(rotatedLogPath(path(), 1)));

        // A line longer than the limit still gets written, in a file of its own.
        log.setRotation({10, 0});
        log.WriteLog(QString(40, QLatin1Char('y')));
        QCOMPARE(contents(path()), QByteArray(40, 'y') + "\r\n");
        QCOMPARE(contents(rotatedLogPath(path(), 1)).size(), 5006); // kept, never deleted
    }

    void aFailedRotationKeepsAppendingAndSaysSoOnce() {
        QVERIFY(QDir().mkpath(rotatedLogPath(path(), 1) + QStringLiteral("/blocker")));
        Screen screen;
        ActivityLog log(
            screen, [] { return true; }, path());
        log.setRotation({10, 1});
        log.WriteLog(QStringLiteral("first line"));
        log.WriteLog(QStringLiteral("second line"));
        log.WriteLog(QStringLiteral("third line"));
        QCOMPARE(contents(path()), QByteArray("first line\r\nsecond line\r\nthird line\r\n"));
        QCOMPARE(screen.lines.filter(QStringLiteral("Impossibile ruotare")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestActivityLog)
#include "test_activitylog.moc"
