// The batch e-mail: an Italian subject that counts and names, a body that
// lists each event, and a message whose headers cannot be forged by a name.

#include "actions/MailMessage.h"

#include <QTest>
#include <QTimeZone>

using namespace kv::actions;

Q_DECLARE_METATYPE(kv::actions::ActionEvent)

namespace {

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

} // namespace

class TestMailMessage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void subjects_data() {
        QTest::addColumn<QList<ActionEvent>>("events");
        QTest::addColumn<QString>("subject");
        const ActionEvent a = makeEvent("upload", "mario", "/a", 1);
        const ActionEvent ban = makeEvent("ban", "", "", -1);
        // clang-format off
        QTest::newRow("three uploads") << QList<ActionEvent>{a, a, a} << "Kestrova Vellim: 3 file ricevuti da mario";
        QTest::newRow("one upload") << QList<ActionEvent>{a} << "Kestrova Vellim: 1 file ricevuto da mario";
        QTest::newRow("two accounts") << QList<ActionEvent>{a, makeEvent("upload", "luigi", "/b", 2)} << "Kestrova Vellim: 2 file ricevuti da mario, luigi";
        QTest::newRow("failed logins by address") << QList<ActionEvent>{ban, ban} << "Kestrova Vellim: 2 indirizzi bloccati da 10.0.0.7";
        QTest::newRow("folders") << QList<ActionEvent>{makeEvent("mkdir", "anna", "/d", -1)} << "Kestrova Vellim: 1 cartella creata da anna";
        // clang-format on
    }
    void subjects() {
        QFETCH(QList<ActionEvent>, events);
        QFETCH(QString, subject);
        QCOMPARE(batchSubject(events), subject);
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
};

QTEST_GUILESS_MAIN(TestMailMessage)
#include "test_mailmessage.moc"
