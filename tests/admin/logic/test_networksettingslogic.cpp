// The address list of the settings panel and "Mostra IP"; the window mode is
// the start-up table's (test_startupdefaults).

#include "admin/logic/NetworkSettingsLogic.h"

#include <QtTest>

using namespace Qt::StringLiterals;

using kv::admin::Adapter;

namespace {
Adapter adapter(QStringList ipv4, bool loopback = false) {
    return Adapter{loopback, std::move(ipv4)};
}
} // namespace

class TestNetworkSettingsLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void localAddressesTakeEachAdaptersFirstIpv4_data() {
        QTest::addColumn<QList<Adapter>>("adapters");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QList<Adapter>{} << QString();
        QTest::newRow("two in order")
            << QList<Adapter>{adapter({"192.168.1.10", "192.168.1.11"}), adapter({"10.0.0.5"})}
            << u"192.168.1.10|10.0.0.5"_s;
        QTest::newRow("loopback left out")
            << QList<Adapter>{adapter({"127.0.0.1"}, true), adapter({"10.0.0.5"})} << u"10.0.0.5"_s;
        QTest::newRow("no address gives 0.0.0.0")
            << QList<Adapter>{adapter({}), adapter({"10.0.0.5"})} << u"0.0.0.0|10.0.0.5"_s;
        QTest::newRow("text cut at NUL")
            << QList<Adapter>{adapter({u"10.0.0.7"_s + QChar(0) + u"junk"_s})} << u"10.0.0.7"_s;
    }
    void localAddressesTakeEachAdaptersFirstIpv4() {
        QFETCH(QList<Adapter>, adapters);
        QFETCH(QString, expected);
        QCOMPARE(kv::admin::LocalAddresses(u"|"_s, adapters), expected);
    }

    void caricaIpOrderAndDuplicates_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QStringList>("expectedEntries");
        QTest::addColumn<QString>("expectedText");
        QTest::newRow("saved address is an adapter's")
            << QStringList{} << u"10.0.0.5"_s << false
            << QStringList{"Default", "0.0.0.0", "::", "192.168.1.10", "10.0.0.5"} << u"10.0.0.5"_s;
        QTest::newRow("reset starts from scratch, letter case counts")
            << QStringList{"stale", "Default"} << u"default"_s << true
            << QStringList{"Default", "0.0.0.0", "::", "192.168.1.10", "10.0.0.5", "default"}
            << u"default"_s;
    }
    // The panel test drives the first fill, a second fill and an empty text.
    void caricaIpOrderAndDuplicates() {
        QFETCH(QStringList, entries);
        QFETCH(QString, text);
        QFETCH(bool, reset);
        QFETCH(QStringList, expectedEntries);
        QFETCH(QString, expectedText);
        const QList<Adapter> adapters = {adapter({"192.168.1.10"}), adapter({}),
                                         adapter({"127.0.0.1"}, true), adapter({"10.0.0.5"})};
        const auto box = kv::admin::CaricaIP(entries, text, reset, adapters);
        QCOMPARE(box.entries, expectedEntries);
        QCOMPARE(box.text, expectedText);
    }

    void mostraIpEnabled_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("Default") << u"Default"_s << true;
        QTest::newRow("DEFAULT") << u"DEFAULT"_s << true;
        QTest::newRow("address") << u"10.0.0.1"_s << false;
        QTest::newRow("default with blank") << u"default "_s << false;
    }
    void mostraIpEnabled() {
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        QCOMPARE(kv::admin::MostraIPEnabled(text), enabled);
    }

    void mostraIpText_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("running shows the engine's address") << true << u"Default"_s << u"5.5.5.5"_s;
        QTest::newRow("stopped, default word") << false << u"DeFault"_s << u"7.7.7.7"_s;
        QTest::newRow("stopped, typed address") << false << u"1.2.3.4"_s << u"1.2.3.4"_s;
        QTest::newRow("stopped, empty") << false << QString() << QString();
    }
    void mostraIpText() {
        QFETCH(bool, running);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(kv::admin::MostraIPText(running, u"5.5.5.5"_s, text, [] { return u"7.7.7.7"_s; }),
                 shown);
    }
};

QTEST_GUILESS_MAIN(TestNetworkSettingsLogic)
#include "test_networksettingslogic.moc"
