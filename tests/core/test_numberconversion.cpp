#include "core/NumberConversion.h"

#include <QTest>

using namespace kv;

class TestNumberConversion : public QObject {
    Q_OBJECT
private Q_SLOTS:

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
