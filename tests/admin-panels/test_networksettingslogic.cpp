// The address list of the settings panel, "Mostra IP" and the window mode.

#include "admin/logic/NetworkSettingsLogic.h"

#include <QtTest>

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
            << QStringLiteral("192.168.1.10|10.0.0.5");
        QTest::newRow("loopback left out")
            << QList<Adapter>{adapter({"127.0.0.1"}, true), adapter({"10.0.0.5"})}
            << QStringLiteral("10.0.0.5");
        QTest::newRow("no address gives 0.0.0.0")
            << QList<Adapter>{adapter({}), adapter({"10.0.0.5"})}
            << QStringLiteral("0.0.0.0|10.0.0.5");
        QTest::newRow("text cut at NUL")
            << QList<Adapter>{adapter(
                   {QStringLiteral("10.0.0.7") + QChar(0) + QStringLiteral("junk")})}
            << QStringLiteral("10.0.0.7");
    }
    void localAddressesTakeEachAdaptersFirstIpv4() {
        QFETCH(QList<Adapter>, adapters);
        QFETCH(QString, expected);
        QCOMPARE(kv::admin::LocalAddresses(QStringLiteral("|"), adapters), expected);
    }

    void caricaIpOrderAndDuplicates_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QStringList>("expectedEntries");
        QTest::addColumn<QString>("expectedText");
        const QList<Adapter> two = {adapter({"192.168.1.10"}), adapter({}), adapter({"10.0.0.5"})};
        QTest::newRow("first fill, saved address last")
            << QStringList{} << QStringLiteral("172.16.0.1") << false
            << QStringList{"Default", "192.168.1.10", "10.0.0.5", "172.16.0.1"}
            << QStringLiteral("172.16.0.1");
        QTest::newRow("saved address is an adapter's")
            << QStringList{} << QStringLiteral("10.0.0.5") << false
            << QStringList{"Default", "192.168.1.10", "10.0.0.5"} << QStringLiteral("10.0.0.5");
        QTest::newRow("empty text becomes Default")
            << QStringList{} << QString() << false
            << QStringList{"Default", "192.168.1.10", "10.0.0.5"} << QStringLiteral("Default");
        QTest::newRow("second fill adds nothing twice")
            << QStringList{"Default", "192.168.1.10", "10.0.0.5", "1.2.3.4"}
            << QStringLiteral("1.2.3.4") << false
            << QStringList{"Default", "192.168.1.10", "10.0.0.5", "1.2.3.4"}
            << QStringLiteral("1.2.3.4");
        QTest::newRow("reset starts from scratch")
            << QStringList{"stale", "Default"} << QStringLiteral("default") << true
            << QStringList{"Default", "192.168.1.10", "10.0.0.5", "default"}
            << QStringLiteral("default");
    }
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

    void aggiungiIpComparesExactly() {
        QStringList entries{QStringLiteral("Default")};
        kv::admin::AggiungiIP(entries, QStringLiteral("Default"));
        kv::admin::AggiungiIP(entries, QStringLiteral("default"));
        QCOMPARE(entries, (QStringList{"Default", "default"}));
    }

    void resetKeepsTheTypedAddressInTheList() {
        const auto box = kv::admin::resetAddressBox(
            {QStringLiteral("old")}, QStringLiteral("9.9.9.9"), {adapter({"10.0.0.5"})});
        QCOMPARE(box.entries, (QStringList{"Default", "10.0.0.5", "9.9.9.9"}));
        QCOMPARE(box.text, QStringLiteral("Default"));
        QVERIFY(kv::admin::MostraIPEnabled(box.text));
    }

    void mostraIpEnabled_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("Default") << QStringLiteral("Default") << true;
        QTest::newRow("DEFAULT") << QStringLiteral("DEFAULT") << true;
        QTest::newRow("address") << QStringLiteral("10.0.0.1") << false;
        QTest::newRow("default with blank") << QStringLiteral("default ") << false;
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
        QTest::newRow("running shows the engine's address")
            << true << QStringLiteral("Default") << QStringLiteral("5.5.5.5");
        QTest::newRow("stopped, default word")
            << false << QStringLiteral("DeFault") << QStringLiteral("7.7.7.7");
        QTest::newRow("stopped, typed address")
            << false << QStringLiteral("1.2.3.4") << QStringLiteral("1.2.3.4");
        QTest::newRow("stopped, empty") << false << QString() << QString();
    }
    void mostraIpText() {
        QFETCH(bool, running);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(kv::admin::MostraIPText(running, QStringLiteral("5.5.5.5"), text,
                                         [] { return QStringLiteral("7.7.7.7"); }),
                 shown);
    }

    void windowMode_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("option");
        QTest::newRow("-1") << QStringLiteral("-1") << 1;
        QTest::newRow("0") << QStringLiteral("0") << 0;
        QTest::newRow("1") << QStringLiteral("1") << 1;
        QTest::newRow("2") << QStringLiteral("2") << 1;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("text") << QStringLiteral("abc") << 0;
    }
    void windowMode() {
        QFETCH(QString, stored);
        QFETCH(int, option);
        QCOMPARE(kv::admin::windowOption(stored), option);
        QCOMPARE(kv::admin::windowModeValue(option), QString::number(option));
    }
};

QTEST_GUILESS_MAIN(TestNetworkSettingsLogic)
#include "test_networksettingslogic.moc"
