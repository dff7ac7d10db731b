// The administration channel's lines: requests read from JSON, and input
// gathered without unbounded buffering (answers, one to a line: test_adminchannel).
#include "adminchannel/AdminProtocol.h"

#include <QTest>

using namespace kv;

class TestAdminProtocol : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requests_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("op"); // empty: refused
        QTest::newRow("plain") << QByteArray(R"({"op":"status"})") << "status";
        QTest::newRow("with version") << QByteArray(R"({"v":1,"op":"kick","id":3})") << "kick";
        QTest::newRow("other version") << QByteArray(R"({"v":2,"op":"status"})") << "";
        QTest::newRow("version as text") << QByteArray(R"({"v":"1","op":"status"})") << "";
        QTest::newRow("not json") << QByteArray("status") << "";
        QTest::newRow("array") << QByteArray(R"(["status"])") << "";
        QTest::newRow("no op") << QByteArray(R"({"v":1})") << "";
        QTest::newRow("op not text") << QByteArray(R"({"op":7})") << "";
        QTest::newRow("empty op") << QByteArray(R"({"op":""})") << "";
        QTest::newRow("binary") << QByteArray("\x00\xff{\"op\":\"x\"}", 12) << "";
    }

    void requests() {
        QFETCH(QByteArray, line);
        QFETCH(QString, op);
        const AdminParse parsed = parseAdminRequest(line);
        if (op.isEmpty()) {
            QVERIFY(!parsed.request);
            QVERIFY(!parsed.error.isEmpty());
        } else {
            QVERIFY2(parsed.request, qPrintable(parsed.error));
            QCOMPARE(parsed.request->op, op);
        }
    }

    void linesAcrossChunks() {
        AdminLineReader reader(16);
        QVERIFY(reader.append("ab"));
        QVERIFY(!reader.takeLine());
        QVERIFY(reader.append("c\r\nde\nf"));
        QCOMPARE(reader.takeLine().value_or("-"), QByteArray("abc"));
        QCOMPARE(reader.takeLine().value_or("-"), QByteArray("de"));
        QVERIFY(!reader.takeLine());
        QVERIFY(reader.append("g\n"));
        QCOMPARE(reader.takeLine().value_or("-"), QByteArray("fg"));
        // Many short lines in one chunk are fine, whatever their total.
        QVERIFY(reader.append(QByteArray("x\n").repeated(100)));
        for (int i = 0; i < 100; ++i)
            QCOMPARE(reader.takeLine().value_or("-"), QByteArray("x"));
        QVERIFY(!reader.overflowed());
    }

    void overlongLines_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<bool>("overflows");
        using L = QList<QByteArray>;
        QTest::newRow("at the limit") << L{QByteArray(16, 'a') + '\n'} << false;
        QTest::newRow("unfinished at the limit") << L{QByteArray(16, 'a')} << false;
        QTest::newRow("unfinished past it") << L{QByteArray(10, 'a'), QByteArray(7, 'a')} << true;
        QTest::newRow("finished past it") << L{QByteArray(17, 'a') + '\n'} << true;
        QTest::newRow("after good lines") << L{"ok\n" + QByteArray(17, 'a')} << true;
    }

    void overlongLines() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(bool, overflows);
        AdminLineReader reader(16);
        for (const QByteArray& chunk : chunks)
            reader.append(chunk);
        while (reader.takeLine()) {
        }
        QCOMPARE(reader.overflowed(), overflows);
        if (overflows) {
            // Nothing after an overflow is taken as a request.
            QVERIFY(!reader.append("\n{\"op\":\"status\"}\n"));
            QVERIFY(!reader.takeLine());
        }
    }
};

QTEST_GUILESS_MAIN(TestAdminProtocol)
#include "test_adminprotocol.moc"
