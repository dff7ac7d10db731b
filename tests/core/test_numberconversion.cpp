#include "core/NumberConversion.h"

#include <QTest>

using namespace kv;

namespace {
QString shown(const auto& value) {
    return value ? QString::number(*value) : QStringLiteral("none");
}
} // namespace

class TestNumberConversion : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Rounded half to even, then kept only when it fits the width.
    void toInteger_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("as16");
        QTest::addColumn<QString>("as32");
        const char* const rows[][3] = {
            {"  180 ", "180", "180"},
            {"2.5", "2", "2"},
            {"3.5", "4", "4"},
            {"-0.5", "0", "0"},
            {"20.6", "21", "21"},
            {"32767", "32767", "32767"},
            {"-32768", "-32768", "-32768"},
            {"32767.5", "none", "32768"},
            {"32768", "none", "32768"},
            {"-32769", "none", "-32769"},
            {"2147483647", "none", "2147483647"},
            {"2147483648", "none", "none"},
            {"-2147483648", "none", "-2147483648"},
            {"-2147483649", "none", "none"},
            {"", "none", "none"},
            {"abc", "none", "none"},
            {"21x", "none", "none"},
            {"inf", "none", "none"},
            {"nan", "none", "none"},
        };
        for (const auto& r : rows)
            QTest::addRow("'%s'", r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1])
                                        << QString::fromLatin1(r[2]);
    }
    void toInteger() {
        QFETCH(QString, text);
        QTEST(shown(toInt16(text)), "as16");
        QTEST(shown(toInt32(text)), "as32");
    }

    void leading() {
        QCOMPARE(leadingNumber("8040"), 8040.0);
        QCOMPARE(leadingNumber("12abc"), 12.0);
        QCOMPARE(leadingNumber("  3.5 twips"), 3.5);
        QCOMPARE(leadingNumber("-1"), -1.0);
        QCOMPARE(leadingNumber("abc"), 0.0);
        QCOMPARE(leadingNumber(""), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestNumberConversion)
#include "test_numberconversion.moc"
