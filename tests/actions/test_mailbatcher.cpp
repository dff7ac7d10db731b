// One e-mail per batch: the events of one rule within the batch time go in
// one message, other rules get their own, and a refused message is tried
// again after each delay, then logged as lost.

#include "actions/MailBatcher.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace kv::actions;

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

ActionEvent upload(const QString& user, const QString& path) {
    ActionEvent event;
    event.name = "upload";
    event.user = user;
    event.address = "127.0.0.1";
    event.clientPath = path;
    event.size = 10;
    event.time = QDateTime::currentDateTimeUtc();
    return event;
}

QString decodedBody(const QByteArray& message) {
    const qsizetype at = message.indexOf("\r\n\r\n");
    return QString::fromUtf8(QByteArray::fromBase64(message.mid(at + 4)));
}

} // namespace

class TestMailBatcher : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
        const QString body = decodedBody(first.message);
        for (int i = 0; i < 10; ++i)
            QVERIFY2(body.contains(QString("/f%1  (10 byte)").arg(i)), qPrintable(body));
        QVERIFY(!body.contains("/other"));
        QVERIFY(first.message.contains("Subject: Kestrova Vellim: 10 file ricevuti da mario\r\n"));
        QCOMPARE(f.batcher.openBatches(), 0);
        // A later event opens a new batch.
        f.batcher.add(1, {"ufficio@example.org"}, upload("mario", "/late"));
        QTRY_COMPARE_WITH_TIMEOUT(f.sent.size(), 3, 3000);
        QVERIFY(f.lines.last().startsWith("E-MAIL inviata a ufficio@example.org: "));
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
        QTest::qWait(100);
        QCOMPARE(f.sender.calls.size(), 4); // no fifth try
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
};

QTEST_GUILESS_MAIN(TestMailBatcher)
#include "test_mailbatcher.moc"
