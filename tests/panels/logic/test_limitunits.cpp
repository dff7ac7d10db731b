// The units the limits are shown and typed in: KiB/s beside Mbit/s, quotas in
// MiB or GiB, expiry dates as a day or "mai".

#include "panels/logic/LimitUnits.h"
#include "tests/support/DataRow.h"

#include <QTest>

using namespace kv::admin;
using namespace Qt::StringLiterals;

class TestLimitUnits : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rates_data() {
        QTest::addColumn<qint64>("kib");
        QTest::addColumn<QString>("mbit");
        QTest::addColumn<QString>("rate");
        QTest::newRow("none") << qint64(0) << u"nessun limite"_s << u"nessun limite"_s;
        addRow("10 MiB/s", qint64(10240), u"≈ 83,9 Mbit/s"_s, u"10240 KiB/s ≈ 83,9 Mbit/s"_s);
        QTest::newRow("1 KiB/s") << qint64(1) << u"≈ 0,008 Mbit/s"_s << u"1 KiB/s ≈ 0,008 Mbit/s"_s;
        addRow("100 KiB/s", qint64(100), u"≈ 0,82 Mbit/s"_s, u"100 KiB/s ≈ 0,82 Mbit/s"_s);
        addRow("the highest", qint64(16 * 1024 * 1024), u"≈ 137.439,0 Mbit/s"_s,
               u"16777216 KiB/s ≈ 137.439,0 Mbit/s"_s);
    }
    void rates() {
        QFETCH(qint64, kib);
        QTEST(mbitText(kib), "mbit");
        QTEST(rateText(kib), "rate");
    }

    // What is typed in a rate's box: KiB/s as it is, Mbit/s converted to the
    // nearest KiB/s (never 0 for a speed above 0); anything else is left for
    // the catalog to refuse in its own words.
    void typedRates_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kib");
        QTest::addColumn<QString>("equivalent");
        QTest::newRow("KiB/s") << u"10240"_s << u"10240"_s << u"≈ 83,9 Mbit/s"_s;
        QTest::newRow("zero") << u"0"_s << u"0"_s << u"nessun limite"_s;
        QTest::newRow("Mbit/s") << u"80 Mbit/s"_s << u"9766"_s << u"≈ 80,0 Mbit/s"_s;
        QTest::newRow("mbit with a comma") << u" 2,5 mbit "_s << u"305"_s << u"≈ 2,5 Mbit/s"_s;
        QTest::newRow("a tiny speed") << u"0.001 Mbit/s"_s << u"1"_s << u"≈ 0,008 Mbit/s"_s;
        QTest::newRow("no number") << u"veloce Mbit/s"_s << u"veloce Mbit/s"_s << QString();
        QTest::newRow("negative") << u"-5"_s << u"-5"_s << QString();
        QTest::newRow("words") << u"abc"_s << u"abc"_s << QString();
    }
    void typedRates() {
        QFETCH(QString, typed);
        QTEST(rateAsKib(typed), "kib");
        QTEST(rateEquivalent(typed), "equivalent");
    }

    void kibAndMbitAreOneConversion() {
        QCOMPARE(kibToMbit(1), 0.008192);
        for (const qint64 kib : {1, 7, 1000, 10240, 123457, 16 * 1024 * 1024})
            QCOMPARE(mbitToKib(kibToMbit(kib)), kib);
        QCOMPARE(mbitToKib(0), 0);
        QCOMPARE(mbitToKib(-3), 0);
    }

    void sizes_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("unit");
        QTest::addColumn<QString>("text");
        const int mib = int(SizeUnit::MiB);
        const int gib = int(SizeUnit::GiB);
        QTest::newRow("none") << qint64(0) << u"0"_s << mib << u"nessuna"_s;
        QTest::newRow("whole GiB") << (qint64(5) << 30) << u"5"_s << gib << u"5 GiB"_s;
        QTest::newRow("whole MiB") << (qint64(800) << 20) << u"800"_s << mib << u"800 MiB"_s;
        addRow("1.5 GiB in MiB", (qint64(1536) << 20), u"1536"_s, mib, u"1536 MiB"_s);
        addRow("bytes from the command line", qint64(1500000), u"1,43"_s, mib, u"1,43 MiB"_s);
        QTest::newRow("a tenth") << (qint64(1) << 20) / 10 * 3 << u"0,3"_s << mib << u"0,3 MiB"_s;
    }
    void sizes() {
        QFETCH(qint64, bytes);
        QFETCH(QString, number);
        QFETCH(int, unit);
        QCOMPARE(sizeInUnit(bytes), (SizeInUnit{number, SizeUnit(unit)}));
        QTEST(sizeText(bytes), "text");
    }

    // A plain number in the unit chosen; anything else is left to the limit
    // fields' check (test_accountlimitslogic).
    void typedSizes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("unit");
        QTest::addColumn<qint64>("bytes"); // -1: not a plain number
        const int mib = int(SizeUnit::MiB);
        const int gib = int(SizeUnit::GiB);
        QTest::newRow("MiB") << u"800"_s << mib << (qint64(800) << 20);
        QTest::newRow("GiB with a comma") << u"1,5"_s << gib << (qint64(1536) << 20);
        QTest::newRow("GiB with a dot") << u" 2.25 "_s << gib << (qint64(2304) << 20);
        QTest::newRow("zero") << u"0"_s << mib << qint64(0);
        QTest::newRow("negative") << u"-1"_s << mib << qint64(-1);
        QTest::newRow("a unit of its own") << u"2G"_s << mib << qint64(-1);
        QTest::newRow("two commas") << u"1,5,5"_s << gib << qint64(-1);
        QTest::newRow("beyond what a number holds") << u"9999999999"_s << gib << qint64(-1);
    }
    void typedSizes() {
        QFETCH(QString, typed);
        QFETCH(int, unit);
        QFETCH(qint64, bytes);
        QCOMPARE(bytesFromUnit(typed, SizeUnit(unit)).value_or(-1), bytes);
    }

    void usedSizes() {
        QCOMPARE(usedText(0), u"0 byte"_s);
        QCOMPARE(usedText(1), u"1 KiB"_s);
        QCOMPARE(usedText(340 * 1024 * 1024 + 512 * 1024), u"340,5 MiB"_s);
        QCOMPARE(usedText(qint64(1288490189)), u"1,2 GiB"_s);
    }

    void expiry_data() {
        QTest::addColumn<QDate>("expires");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("state");
        QTest::newRow("never") << QDate() << u"mai"_s << u"Non scade mai"_s;
        addRow("later", QDate(2026, 12, 31), u"31/12/2026"_s,
               u"Valido fino al 31/12/2026 compreso (ancora 21 giorni)"_s);
        addRow("tomorrow", QDate(2026, 12, 11), u"11/12/2026"_s,
               u"Valido fino al 11/12/2026 compreso (ancora 1 giorno)"_s);
        addRow("today is the last day", QDate(2026, 12, 10), u"10/12/2026"_s,
               u"Valido fino alla fine di oggi (10/12/2026)"_s);
        addRow("past", QDate(2026, 12, 9), u"09/12/2026"_s,
               u"Scaduto: l'ultimo giorno valido era il 09/12/2026"_s);
    }
    void expiry() {
        QFETCH(QDate, expires);
        QTEST(expiryText(expires), "text");
        QTEST(expiryState(expires, QDate(2026, 12, 10)), "state");
        // A date box shows "mai" on its lowest day.
        QCOMPARE(expiryFromDateBox(dateBoxOf(expires)), expires);
        QCOMPARE(dateBoxOf(expires) == kNeverInDateBox, expires.isNull());
    }

    void sizesInEitherUnit() {
        QCOMPARE(numberInUnit(qint64(5) << 30, SizeUnit::MiB), u"5120"_s);
        QCOMPARE(numberInUnit(qint64(1536) << 20, SizeUnit::GiB), u"1,5"_s);
        QCOMPARE(numberInUnit(qint64(100) << 20, SizeUnit::GiB), u"0,1"_s);
        QCOMPARE(numberInUnit(0, SizeUnit::GiB), u"0"_s);
        // What a box shows in a unit reads back to the same size.
        for (const auto& [bytes, unit] : {std::pair{qint64(7) << 30, SizeUnit::GiB},
                                          {qint64(7) << 30, SizeUnit::MiB},
                                          {qint64(1536) << 20, SizeUnit::GiB},
                                          {qint64(12) << 20, SizeUnit::MiB}})
            QCOMPARE(bytesFromUnit(numberInUnit(bytes, unit), unit), bytes);
    }
};

QTEST_GUILESS_MAIN(TestLimitUnits)
#include "test_limitunits.moc"
