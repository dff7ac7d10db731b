// The address list of the settings panel and "Mostra IP"; the window mode is
// the start-up table's (test_startupdefaults).

#include "panels/logic/NetworkSettingsLogic.h"
#include "settings/PortPrivilege.h"

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
    // The port caption names the default a database made by this user gets.
    void portCaptionNamesTheDefault_data() {
        QTest::addColumn<QString>("port");
        QTest::newRow("may listen on 21") << u"21"_s;
        QTest::newRow("may not") << u"2121"_s;
    }
    void portCaptionNamesTheDefault() {
        QFETCH(QString, port);
        QCOMPARE(kv::admin::portCaption(port),
                 u"Inserire la porta su cui si desidera attivare il server (in caso di dubbio "
                 u"lasciare l'impostazione di default \"%1\"):"_s.arg(port));
        QCOMPARE(kv::admin::defaultControlPort(),
                 kv::settings::newDatabasePort(kv::settings::mayBindPort(21)));
    }

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
        QTEST(kv::admin::LocalAddresses(u"|"_s, adapters), "expected");
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
        const QList<Adapter> adapters = {adapter({"192.168.1.10"}), adapter({}),
                                         adapter({"127.0.0.1"}, true), adapter({"10.0.0.5"})};
        const auto box = kv::admin::CaricaIP(entries, text, reset, adapters);
        QTEST(box.entries, "expectedEntries");
        QTEST(box.text, "expectedText");
    }

    // "Default" in any case, a typed address, the running engine's address and
    // the default one are the panel test's (test_settingspanel).
    void mostraIp() {
        QVERIFY(kv::admin::MostraIPEnabled(QString()));
        QVERIFY(!kv::admin::MostraIPEnabled(u"default "_s));
        const auto machine = [] { return u"7.7.7.7"_s; };
        QCOMPARE(kv::admin::MostraIPText(false, u"5.5.5.5"_s, u"DeFault"_s, machine), u"7.7.7.7"_s);
        QCOMPARE(kv::admin::MostraIPText(false, u"5.5.5.5"_s, QString(), machine), QString());
    }
};

QTEST_GUILESS_MAIN(TestNetworkSettingsLogic)
#include "test_networksettingslogic.moc"
