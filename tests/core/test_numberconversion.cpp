#include "core/NumberConversion.h"

#include <QTest>

using namespace kv;

class TestNumberConversion : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void toInteger_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("value");
        const auto row = [](const char* name, int bits, const QString& text, bool valid,
                            qint64 value) {
            QTest::newRow(name) << bits << text << valid << value;
        };
        row("plain", 16, "21", true, 21);
        row("blanks", 16, "  180 ", true, 180);
        row("half to even down", 16, "2.5", true, 2);
        row("half to even up", 16, "3.5", true, 4);
        row("negative half", 16, "-0.5", true, 0);
        row("fraction", 16, "20.6", true, 21);
        row("top", 16, "32767", true, 32767);
        row("bottom", 16, "-32768", true, -32768);
        row("rounds past top", 16, "32767.5", false, 0);
        row("too big", 16, "40000", false, 0);
        row("too small", 16, "-32769", false, 0);
        row("empty", 16, "", false, 0);
        row("word", 16, "abc", false, 0);
        row("trailing junk", 16, "21x", false, 0);
        row("infinite", 16, "inf", false, 0);
        row("nan", 16, "nan", false, 0);
        row("32 bits: fits 32 not 16", 32, "40000", true, 40000);
        row("32 bits: top", 32, "2147483647", true, 2147483647);
        row("32 bits: over", 32, "2147483648", false, 0);
        row("32 bits: half even", 32, "0.5", true, 0);
    }
    void toInteger() {
        QFETCH(int, bits);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(qint64, value);
        std::optional<qint64> result;
        if (const auto small = toInt16(text); bits == 16 && small)
            result = *small;
        if (const auto big = toInt32(text); bits == 32 && big)
            result = *big;
        QCOMPARE(result.has_value(), valid);
        if (valid)
            QCOMPARE(*result, value);
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
