// ASCII-mode conversion must be exact across any chunk boundary.

#include "engine/LineEndings.h"

#include <QTest>

using namespace kv::engine;

class TestLineEndings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void conversionIsIndependentOfChunking_data();
    void conversionIsIndependentOfChunking();
};

void TestLineEndings::conversionIsIndependentOfChunking_data() {
    QTest::addColumn<QByteArray>("disk");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("back"); // what an upload of `wire` stores
    QTest::newRow("unix lines") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n")
                                << QByteArray("a\nb\n");
    QTest::newRow("already crlf") << QByteArray("a\r\nb") << QByteArray("a\r\nb")
                                  << QByteArray("a\nb");
    QTest::newRow("lone cr kept") << QByteArray("a\rb\r") << QByteArray("a\rb\r")
                                  << QByteArray("a\rb\r");
    QTest::newRow("empty lines") << QByteArray("\n\n") << QByteArray("\r\n\r\n")
                                 << QByteArray("\n\n");
    QTest::newRow("binary bytes") << QByteArray("\0\xff\n", 3) << QByteArray("\0\xff\r\n", 4)
                                  << QByteArray("\0\xff\n", 3);
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
}

void TestLineEndings::conversionIsIndependentOfChunking() {
    QFETCH(QByteArray, disk);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, back);
    // Every chunk size, including 1 byte, which splits every CR LF pair.
    for (int chunk = 1; chunk <= std::max<qsizetype>(1, wire.size()); ++chunk) {
        AsciiEncoder enc;
        QByteArray sent;
        for (qsizetype i = 0; i < disk.size(); i += chunk)
            sent += enc.convert(
                QByteArrayView(disk).sliced(i, std::min<qsizetype>(chunk, disk.size() - i)));
        QCOMPARE(sent, wire);
        AsciiDecoder dec;
        QByteArray stored;
        for (qsizetype i = 0; i < wire.size(); i += chunk)
            stored += dec.convert(
                QByteArrayView(wire).sliced(i, std::min<qsizetype>(chunk, wire.size() - i)));
        stored += dec.finish();
        QCOMPARE(stored, back);
    }
}

QTEST_GUILESS_MAIN(TestLineEndings)
#include "test_lineendings.moc"
