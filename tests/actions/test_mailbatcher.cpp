// One e-mail per batch: the events of one rule within the batch time go in
// one message, other rules get their own, and a refused message is tried
// again after each delay, then logged as lost. The message: an Italian subject
// that counts and names, a body that lists each event, and headers that
// cannot be forged by a name. And the programs of the run rules: started in
// the file's folder with the event in the environment and standard input at
// its end, output kept to 4 KiB, at most N at once in order, and a program
// past its time killed together with what it started.

#include "actions/MailBatcher.h"
#include "actions/MailMessage.h"
#include "actions/ProgramRunner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

#include <csignal>

using namespace kv::actions;

Q_DECLARE_METATYPE(kv::actions::ActionEvent)
Q_DECLARE_METATYPE(kv::actions::RunOutcome)

namespace {

// Answers each send on the next turn of the event loop with the next of `answers`.
class FakeSender : public MailSender {
public:
    struct Call {
        MailSettings mail;
        QStringList to;
        QByteArray message;
    };
    QList<Call> calls;
    QList<SmtpResult> answers;

    void send(const MailSettings& mail, const QStringList& to, const QByteArray& message,
              Done done) override {
        calls.append({mail, to, message});
        const SmtpResult answer =
            answers.isEmpty() ? SmtpResult{true, "250 OK", {}} : answers.takeFirst();
        QTimer::singleShot(0, this, [done, answer] { done(answer); });
    }
};

struct Fixture {
    QStringList lines;
    FakeSender sender;
    QString server = "first.example.org";
    MailBatcher batcher{[this](const QString& line) { lines << line; },
                        [this] {
                            MailSettings mail;
                            mail.host = server;
                            mail.from = "ftp@example.org";
                            return mail;
                        },
                        [] { return 100; },
                        sender,
                        {300, 400, 500}};
    QSignalSpy sent{&batcher, &MailBatcher::mailSent};
    QSignalSpy lost{&batcher, &MailBatcher::mailLost};
};

ActionEvent makeEvent(const QString& name, const QString& user, const QString& path, qint64 size) {
    ActionEvent e;
    e.name = name;
    e.user = user;
    e.address = "10.0.0.7";
    e.clientPath = path;
    e.size = size;
    e.time = QDateTime(QDate(2026, 3, 1), QTime(9, 30, 0), QTimeZone::utc());
    return e;
}

ActionEvent upload(const QString& user, const QString& path) {
    return makeEvent("upload", user, path, 10);
}

// A quota warning or an expiry as the bus raises it for `user`.
ActionEvent notice(const QString& name, const QString& user) {
    ActionEvent e = makeEvent(name, user, "", -1);
    e.address.clear();
    e.detail = "detto di " + user;
    return e;
}

QString decodedBody(const QByteArray& message) {
    const qsizetype at = message.indexOf("\r\n\r\n");
    return QString::fromUtf8(QByteArray::fromBase64(message.mid(at + 4)));
}

// Runs the programs of the run rules in a scratch folder, keeping their log lines.
struct Runner {
    QTemporaryDir dir;
    QStringList lines;
    ProgramRunner runner{[this](const QString& line) { lines << line; }, dir.path()};
    QSignalSpy ended{&runner, &ProgramRunner::programEnded};

    ActionEvent event(const QString& file = {}) const {
        ActionEvent e = upload("mario", "/x");
        e.diskPath = file;
        return e;
    }
    RunOutcome outcome(int i) const { return ended.at(i).at(1).value<RunOutcome>(); }
};

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TestMailBatcher : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every event in the body, the log line and a later batch of its own: e2e_actions.
    void oneMessagePerRuleAndBatch() {
        Fixture f;
        for (int i = 0; i < 10; ++i)
            f.batcher.add(1, {"ufficio@example.org"}, upload("mario", QString("/f%1").arg(i)));
        f.batcher.add(2, {"capo@example.org"}, upload("luigi", "/other"));
        QCOMPARE(f.batcher.openBatches(), 2);
        QVERIFY(f.sender.calls.isEmpty()); // nothing before the batch time
        QTRY_COMPARE_WITH_TIMEOUT(f.sent.size(), 2, 3000);
        QCOMPARE(f.sender.calls.size(), 2);
        const auto& first = f.sender.calls[0].to == QStringList{"ufficio@example.org"}
                                ? f.sender.calls[0]
                                : f.sender.calls[1];
        QVERIFY(!decodedBody(first.message).contains("/other"));
        QVERIFY(first.message.contains("Subject: Kestrova Vellim: 10 file ricevuti da mario\r\n"));
        QCOMPARE(f.batcher.openBatches(), 0);
    }

    void refusedThenAccepted() {
        Fixture f;
        f.sender.answers = {SmtpResult{false, "451 later", "invio non riuscito: 451 later"},
                            SmtpResult{false, {}, "invio non riuscito: connessione rifiutata"}};
        f.batcher.add(1, {"a@example.org"}, upload("mario", "/x"));
        // The settings in force at each try are used: a fixed server counts.
        QTRY_COMPARE_WITH_TIMEOUT(f.sender.calls.size(), 1, 3000);
        f.server = "second.example.org";
        QTRY_COMPARE_WITH_TIMEOUT(f.sent.size(), 1, 3000);
        QCOMPARE(f.sender.calls.size(), 3);
        QCOMPARE(f.sender.calls[2].mail.host, QString("second.example.org"));
        QCOMPARE(f.sender.calls[0].message, f.sender.calls[2].message);
        QCOMPARE(f.lost.size(), 0);
        QVERIFY(f.lines[0].contains("451 later; nuovo tentativo tra 0.3 secondi"));
        QVERIFY(f.lines[1].contains("nuovo tentativo tra 0.4 secondi"));
    }

    void lostAfterTheLastRetry() {
        Fixture f;
        for (int i = 0; i < 4; ++i)
            f.sender.answers << SmtpResult{false, "554 no", "invio non riuscito: 554 no"};
        f.batcher.add(1, {"a@example.org"}, upload("mario", "/x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.lost.size(), 1, 3000);
        QCOMPARE(f.sender.calls.size(), 4);
        QCOMPARE(f.sent.size(), 0);
        QVERIFY2(f.lines.last().contains("persa") && f.lines.last().contains("4 tentativi") &&
                     f.lines.last().contains("554 no"),
                 qPrintable(f.lines.last()));
    }

    void anOpenBatchIsLoggedWhenTheProgramEnds() {
        QStringList lines;
        {
            FakeSender sender;
            MailBatcher batcher([&lines](const QString& line) { lines << line; },
                                [] { return MailSettings{}; }, [] { return 60000; }, sender);
            batcher.add(1, {"a@example.org"}, upload("mario", "/x"));
            batcher.add(1, {"a@example.org"}, upload("mario", "/y"));
        }
        QCOMPARE(lines, QStringList{"E-MAIL a a@example.org non inviata: il programma si chiude "
                                    "prima della fine della raccolta (2 eventi)"});
    }

    void retryDelaysCanBeShortened() {
        qputenv("KESTROVA_MAIL_SECOND_MS", "10");
        QCOMPARE(mailRetryDelaysMs(), (QList<int>{300, 1200, 4800}));
        qputenv("KESTROVA_MAIL_SECOND_MS", "0");
        QCOMPARE(mailRetryDelaysMs(), (QList<int>{30000, 120000, 480000}));
        qunsetenv("KESTROVA_MAIL_SECOND_MS");
        QCOMPARE(mailRetryDelaysMs(), (QList<int>{30000, 120000, 480000}));
    }

    void subjects_data() {
        QTest::addColumn<QList<ActionEvent>>("events");
        QTest::addColumn<QString>("subject");
        const ActionEvent a = makeEvent("upload", "mario", "/a", 1);
        const ActionEvent ban = makeEvent("ban", "", "", -1);
        // clang-format off
        QTest::newRow("one upload") << QList<ActionEvent>{a} << "Kestrova Vellim: 1 file ricevuto da mario";
        QTest::newRow("two accounts") << QList<ActionEvent>{a, makeEvent("upload", "luigi", "/b", 2)} << "Kestrova Vellim: 2 file ricevuti da mario, luigi";
        QTest::newRow("failed logins by address") << QList<ActionEvent>{ban, ban} << "Kestrova Vellim: 2 indirizzi bloccati da 10.0.0.7";
        QTest::newRow("folders") << QList<ActionEvent>{makeEvent("mkdir", "anna", "/d", -1)} << "Kestrova Vellim: 1 cartella creata da anna";
        QTest::newRow("quota warning") << QList<ActionEvent>{notice("quota-warning", "anna")} << "Kestrova Vellim: 1 quota quasi esaurita per anna";
        QTest::newRow("two quota warnings") << QList<ActionEvent>{notice("quota-warning", "anna"), notice("quota-warning", "bea")} << "Kestrova Vellim: 2 quote quasi esaurite per anna, bea";
        QTest::newRow("expired") << QList<ActionEvent>{notice("account-expired", "anna")} << "Kestrova Vellim: 1 account scaduto per anna";
        QTest::newRow("two expired") << QList<ActionEvent>{notice("account-expired", "anna"), notice("account-expired", "bea")} << "Kestrova Vellim: 2 account scaduti per anna, bea";
        // clang-format on
    }
    void subjects() {
        QFETCH(QList<ActionEvent>, events);
        QTEST(batchSubject(events), "subject");
    }

    void bodyListsEachEvent() {
        const QString body = batchBody({makeEvent("upload", "mario", "/scan/ä.pdf", 1234567),
                                        makeEvent("upload", "mario", "/scan/b.pdf", 0)});
        QVERIFY2(body.startsWith("2 file ricevuti:\n"), qPrintable(body));
        QVERIFY(body.contains("account: mario  indirizzo: 10.0.0.7"));
        QVERIFY(body.contains("/scan/ä.pdf  (1.234.567 byte)"));
        QVERIFY(body.contains("/scan/b.pdf  (0 byte)"));
        QVERIFY(body.contains(
            makeEvent("upload", "", "", 0).time.toLocalTime().toString("dd/MM/yyyy HH:mm:ss")));
    }

    // An account's event says what happened to which account, not a path.
    void bodySaysWhatHappenedToTheAccount() {
        const QString body =
            batchBody({notice("quota-warning", "mario"), notice("account-expired", "anonymous")});
        QVERIFY2(body.startsWith("2 quote quasi esaurite:\n"), qPrintable(body));
        QVERIFY2(body.contains("account: mario\n    detto di mario\n"), qPrintable(body));
        QVERIFY2(body.contains("account: anonymous\n    detto di anonymous\n"), qPrintable(body));
        QVERIFY(!body.contains("indirizzo"));
        QVERIFY(!body.contains("byte"));
    }

    void messageIsPlainUtf8WithSafeHeaders() {
        const QByteArray message = composeMessage(
            "ftp@example.org", {"a@example.org", "b@example.org"},
            "Kestrova Vellim: 1 file ricevuto da perché\r\nBcc: x@y.z", "Città\nriga due\n",
            QDateTime(QDate(2026, 3, 1), QTime(9, 30), QTimeZone::utc()));
        const qsizetype split = message.indexOf("\r\n\r\n");
        const QByteArray headers = message.left(split);
        QVERIFY(headers.contains("Date: Sun, 01 Mar 2026 09:30:00 +0000\r\n"));
        QVERIFY(headers.contains("From: ftp@example.org\r\n"));
        QVERIFY(headers.contains("To: a@example.org, b@example.org\r\n"));
        QVERIFY(headers.contains("Content-Type: text/plain; charset=UTF-8\r\n"));
        QVERIFY(headers.contains("MIME-Version: 1.0\r\n"));
        // A line break in the subject stays inside an encoded word.
        QVERIFY(!headers.contains("\r\nBcc:"));
        QVERIFY(headers.contains("Subject: =?UTF-8?B?"));
        QString subject;
        for (const QByteArray& line : headers.split('\n')) {
            const QByteArray word = line.trimmed();
            const qsizetype at = word.indexOf("=?UTF-8?B?");
            if (at >= 0)
                subject += QString::fromUtf8(QByteArray::fromBase64(word.mid(at + 10).chopped(2)));
        }
        QCOMPARE(subject, QString("Kestrova Vellim: 1 file ricevuto da perché\r\nBcc: x@y.z"));
        for (const QByteArray& line : message.split('\n'))
            QVERIFY(line.size() <= 998);
        QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(message.mid(split + 4))),
                 QString("Città\r\nriga due\r\n"));
    }

    void runsInTheFilesFolderWithTheEvent() {
        Runner f;
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
        Runner f;
        f.runner.submit(command, f.event());
        QTRY_COMPARE_WITH_TIMEOUT(f.ended.size(), 1, 5000);
        QCOMPARE(f.outcome(0), outcome);
        QVERIFY2(f.lines.join('\n').contains(logged), qPrintable(f.lines.join('\n')));
        QCOMPARE(f.runner.running(), 0);
    }

    void outputIsCutAtFourKiB() {
        Runner f;
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
        Runner f;
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
        Runner f;
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
        // One at a time: in the order submitted.
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

QTEST_GUILESS_MAIN(TestMailBatcher)
#include "test_mailbatcher.moc"
