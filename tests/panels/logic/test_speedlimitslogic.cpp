// The rates group without a window: its options come from the catalog, a
// rate may be typed in Mbit/s and is kept in KiB/s, refusals carry the
// catalog's words, and changes wait on the table as every group's do.

#include "panels/logic/SpeedLimitsLogic.h"
#include "tests/support/DataRow.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
using kv::admin::SpeedLimitsLogic;

class TestSpeedLimitsLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void optionsAreTheCatalogs() {
        kv::testing::OptionsFixture f;
        SpeedLimitsLogic logic(f.views->options());
        for (const QString& option : SpeedLimitsLogic::options())
            QVERIFY2(kv::settings::optionCatalog().find(option), qPrintable(option));
        QCOMPARE(logic.caption(u"rate_ip_down_kib"_s),
                 u"Velocità massima in invio (download) per indirizzo, in KiB/s (0 = nessun "
                 u"limite)"_s);
        QCOMPARE(logic.shown(u"quota_warn_percent"_s), u"80"_s);
        QCOMPARE(logic.shown(u"rate_up_kib"_s), u"0"_s);
        QVERIFY(!logic.localExempt());
    }

    void changes_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reason"); // empty: kept
        QTest::addColumn<QString>("shown");
        QTest::newRow("KiB/s") << u"rate_down_kib"_s << u"10240"_s << QString() << u"10240"_s;
        QTest::newRow("Mbit/s") << u"rate_ip_up_kib"_s << u"8 Mbit/s"_s << QString() << u"977"_s;
        addRow("too fast in Mbit/s", u"rate_ip_down_kib"_s, u"200000 Mbit/s"_s,
               u"Opzione rate_ip_down_kib: 24414063 non è un numero intero da 0 a 16777216"_s,
               u"0"_s);
        addRow("Mbit/s without a number", u"rate_ip_down_kib"_s, u"tanti Mbit/s"_s,
               u"Opzione rate_ip_down_kib: tanti Mbit/s non è un numero intero da 0 a "
               u"16777216"_s,
               u"0"_s);
        addRow("warning share", u"quota_warn_percent"_s, u"95"_s, QString(), u"95"_s);
        addRow("Mbit/s is only for rates", u"quota_warn_percent"_s, u"8 Mbit/s"_s,
               u"Opzione quota_warn_percent: 8 Mbit/s non è un numero intero da 0 a 100"_s,
               u"80"_s);
    }
    void changes() {
        QFETCH(QString, option);
        QFETCH(QString, text);
        QFETCH(QString, reason);
        kv::testing::OptionsFixture f;
        SpeedLimitsLogic logic(f.views->options());
        QCOMPARE(logic.change(option, text).value_or(QString()), reason);
        QTEST(logic.shown(option), "shown");
        QCOMPARE(f.views->options().commit(), std::nullopt);
        QCOMPARE(f.storedWhere(u"name = '%1'"_s.arg(option)),
                 reason.isEmpty() ? QStringList{option + u'=' + logic.shown(option)}
                                  : QStringList{});
    }

    void summarySaysWhichWayIsWhich() {
        kv::testing::OptionsFixture f(
            {u"INSERT OR REPLACE INTO options VALUES ('rate_down_kib', '10240'), "
             u"('rate_ip_up_kib', '512')"_s});
        SpeedLimitsLogic logic(f.views->options());
        QCOMPARE(logic.summary(),
                 u"In ricezione (upload dai client): tutto il server nessun limite, ogni "
                 u"indirizzo 512 KiB/s ≈ 4,2 Mbit/s.\n"
                 u"In invio (download verso i client): tutto il server 10240 KiB/s ≈ 83,9 "
                 u"Mbit/s, ogni indirizzo nessun limite."_s);
        QCOMPARE(logic.setLocalExempt(true), std::nullopt);
        QVERIFY(logic.localExempt());
        QVERIFY(logic.summary().endsWith(u"\nI client della rete locale non sono limitati."_s));
        QCOMPARE(f.storedWhere(u"name = 'rate_local_exempt'"_s), QStringList{});
        QCOMPARE(f.views->options().commit(), std::nullopt);
        QCOMPARE(f.storedWhere(u"name = 'rate_local_exempt'"_s),
                 QStringList{u"rate_local_exempt=1"_s});
    }
};

QTEST_GUILESS_MAIN(TestSpeedLimitsLogic)
#include "test_speedlimitslogic.moc"
