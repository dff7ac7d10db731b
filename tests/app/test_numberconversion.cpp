#include "app/core/NumberConversion.h"

#include <QTest>

using namespace kv;

class TestNumberConversion : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void int16_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "21" << true << 21;
        QTest::newRow("blanks") << "  180 " << true << 180;
        QTest::newRow("half to even down") << "2.5" << true << 2;
        QTest::newRow("half to even up") << "3.5" << true << 4;
        QTest::newRow("negative half") << "-0.5" << true << 0;
        QTest::newRow("fraction") << "20.6" << true << 21;
        QTest::newRow("top") << "32767" << true << 32767;
        QTest::newRow("bottom") << "-32768" << true << -32768;
        QTest::newRow("rounds past top") << "32767.5" << false << 0;
        QTest::newRow("too big") << "40000" << false << 0;
        QTest::newRow("too small") << "-32769" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("word") << "abc" << false << 0;
        QTest::newRow("trailing junk") << "21x" << false << 0;
        QTest::newRow("infinite") << "inf" << false << 0;
        QTest::newRow("nan") << "nan" << false << 0;
    }
    void int16() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const auto result = toInt16(text);
        QCOMPARE(result.has_value(), valid);
        if (valid)
            QCOMPARE(int(*result), value);
    }

    void int32_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("value");
        QTest::newRow("fits 32 not 16") << "40000" << true << qint64(40000);
        QTest::newRow("top") << "2147483647" << true << qint64(2147483647);
        QTest::newRow("over") << "2147483648" << false << qint64(0);
        QTest::newRow("half even") << "0.5" << true << qint64(0);
    }
    void int32() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(qint64, value);
        const auto result = toInt32(text);
        QCOMPARE(result.has_value(), valid);
        if (valid)
            QCOMPARE(qint64(*result), value);
    }

    void leading_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("number") << "8040" << 8040.0;
        QTest::newRow("number then text") << "12abc" << 12.0;
        QTest::newRow("blanks first") << "  3.5 twips" << 3.5;
        QTest::newRow("negative") << "-1" << -1.0;
        QTest::newRow("no number") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
    }
    void leading() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(leadingNumber(text), value);
    }
};

QTEST_GUILESS_MAIN(TestNumberConversion)
#include "test_numberconversion.moc"
