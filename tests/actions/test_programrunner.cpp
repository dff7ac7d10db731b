// The programs of the run rules: started in the file's folder with the event
// in the environment and standard input at its end, output kept to 4 KiB,
// at most N at once in order, and a program past its time killed together
// with what it started.

#include "actions/ProgramRunner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace kv::actions;

Q_DECLARE_METATYPE(kv::actions::RunOutcome)

namespace {

struct Fixture {
    QTemporaryDir dir;
    QStringList lines;
    ProgramRunner runner{[this](const QString& line) { lines << line; }, dir.path()};
    QSignalSpy ended{&runner, &ProgramRunner::programEnded};

    ActionEvent event(const QString& file = {}) const {
        ActionEvent e;
        e.name = "upload";
        e.user = "mario";
        e.diskPath = file;
        e.clientPath = "/x";
        e.time = QDateTime::currentDateTimeUtc();
        return e;
    }
    RunOutcome outcome(int i) const { return ended.at(i).at(1).value<RunOutcome>(); }
};

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TestProgramRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void runsInTheFilesFolderWithTheEvent() {
        Fixture f;
        QVERIFY(QDir(f.dir.path()).mkpath("in box"));
        const QString file = f.dir.filePath("in box/a.pdf");
        f.runner.submit("/bin/sh -c \"pwd; echo user=$KV_USER; cat; echo end\"", f.event(file));
        QTRY_COMPARE_WITH_TIMEOUT(f.ended.size(), 1, 5000);
        QCOMPARE(f.outcome(0), RunOutcome::Done);
        const QString log = f.lines.join('\n');
        QVERIFY2(log.contains("output: " + QFileInfo(f.dir.filePath("in box")).absoluteFilePath()),
                 qPrintable(log));
        QVERIFY(log.contains("output: user=mario"));
        QVERIFY(log.contains("output: end")); // standard input was at its end
        QVERIFY(log.contains("terminato (codice 0)"));
    }

    void endingsAreLoggedWithTheirReason_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<RunOutcome>("outcome");
        QTest::addColumn<QString>("logged");
        QTest::newRow("exit code")
            << "/bin/sh -c \"exit 3\"" << RunOutcome::Failed
            << "upload \"/bin/sh -c \"exit 3\"\": terminato con errore (codice 3)";
        QTest::newRow("missing program")
            << "/no/such/program" << RunOutcome::NotStarted << "impossibile avviare il programma";
        QTest::newRow("signal") << "/bin/sh -c \"kill -9 $$\"" << RunOutcome::Failed
                                << "terminato da un segnale";
    }
    void endingsAreLoggedWithTheirReason() {
        QFETCH(QString, command);
        QFETCH(RunOutcome, outcome);
        QFETCH(QString, logged);
        Fixture f;
        f.runner.submit(command, f.event());
        QTRY_COMPARE_WITH_TIMEOUT(f.ended.size(), 1, 5000);
        QCOMPARE(f.outcome(0), outcome);
        QVERIFY2(f.lines.join('\n').contains(logged), qPrintable(f.lines.join('\n')));
        QCOMPARE(f.runner.running(), 0);
    }

    void outputIsCutAtFourKiB() {
        Fixture f;
        f.runner.submit("/bin/sh -c \"i=0; while [ $i -lt 300 ]; do echo "
                        "0123456789012345678901234567890123456789; i=$((i+1)); done\"",
                        f.event());
        QTRY_COMPARE_WITH_TIMEOUT(f.ended.size(), 1, 5000);
        qsizetype kept = 0;
        for (const QString& line : f.lines) {
            if (line.contains("output: 0123"))
                kept += line.mid(line.indexOf("output: ") + 8).size() + 1;
        }
        QVERIFY2(kept - 1 <= ProgramRunner::kOutputKept && kept > 4000,
                 qPrintable(QString::number(kept)));
        QVERIFY(f.lines.last().contains("troncato ai primi 4 KiB"));
    }

    void aProgramPastItsTimeIsKilledWithItsChildren() {
        Fixture f;
        f.runner.setLimits({4, 300});
        const QString pidFile = f.dir.filePath("child.pid");
        QElapsedTimer clock;
        clock.start();
        f.runner.submit(
            QStringLiteral("/bin/sh -c \"sleep 30 & echo $! > '%1'; wait\"").arg(pidFile),
            f.event());
        QTRY_COMPARE_WITH_TIMEOUT(f.ended.size(), 1, 5000);
        QVERIFY(clock.elapsed() < 3000);
        QCOMPARE(f.outcome(0), RunOutcome::TimedOut);
        QVERIFY(f.lines.join('\n').contains("fermato: superato il tempo massimo di 0.3 secondi"));
        const pid_t child = readAll(pidFile).trimmed().toInt();
        QVERIFY(child > 0);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(child, 0) != 0, 3000);
    }

    void atMostNRunAndTheRestWaitInOrder() {
        Fixture f;
        f.runner.setLimits({2, 10000});
        const QString order = f.dir.filePath("order.txt");
        for (int i = 1; i <= 5; ++i)
            f.runner.submit(
                QStringLiteral("/bin/sh -c \"sleep 0.2; echo %1 >> '%2'\"").arg(i).arg(order),
                f.event());
        QCOMPARE(f.runner.running(), 2);
        QCOMPARE(f.runner.waiting(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(f.ended.size(), 5, 10000);
        QCOMPARE(f.runner.running(), 0);
        QStringList lines = readAll(order).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        // Two at a time: 1 and 2 finish before 5 starts.
        QVERIFY(lines.indexOf("5") >= 3);
        f.runner.setLimits({1, 10000});
        QFile::remove(order);
        for (int i = 1; i <= 4; ++i)
            f.runner.submit(QStringLiteral("/bin/sh -c \"echo %1 >> '%2'\"").arg(i).arg(order),
                            f.event());
        QCOMPARE(f.runner.running(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(f.ended.size(), 9, 10000);
        QCOMPARE(readAll(order), QString("1\n2\n3\n4\n"));
    }
};

QTEST_GUILESS_MAIN(TestProgramRunner)
#include "test_programrunner.moc"
