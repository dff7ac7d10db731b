#include "monitor/ActivityLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::monitor;

namespace {

struct Screen : LogScreen {
    QStringList lines;
    void ShowLogLine(const QString& line) override { lines << line; }
};

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestLogRotation : public QObject {
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
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.path());
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

QTEST_GUILESS_MAIN(TestLogRotation)
#include "test_logrotation.moc"
