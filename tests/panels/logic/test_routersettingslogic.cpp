// The router group's behaviour without a window.

#include "panels/logic/RouterSettingsLogic.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>

using namespace kv;
using namespace kv::admin;

namespace {

struct Fixture : testing::OptionsFixture {
    std::unique_ptr<RouterSettingsLogic> logic;

    explicit Fixture(const QStringList& rows = {})
        : OptionsFixture(rows), logic(std::make_unique<RouterSettingsLogic>(views->options())) {}
    QStringList stored() const { return storedWhere("name LIKE 'passive%'"); }
};

} // namespace

class TestRouterSettingsLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void changesAreCheckedAndWaitForTheCommit() {
        Fixture f({"INSERT OR REPLACE INTO options VALUES ('passive_ports', '50000 - 50010')",
                   "INSERT OR REPLACE INTO options VALUES ('passive_address', 'bad name!')"});
        QCOMPARE(f.logic->load().passivePorts, QString("50000-50010"));
        QCOMPARE(f.logic->load().passiveAddress, QString("bad name!"));

        QCOMPARE(f.logic->change("passive_address", " Casa.Example.NET "), std::nullopt);
        QCOMPARE(f.logic->change("passive_ports", "50000-50010"), std::nullopt); // as stored
        QCOMPARE(f.views->options().pending(),
                 (QMap<QString, QString>{{"passive_address", "casa.example.net"}}));
        QVERIFY(f.logic->change("passive_ports", "80-90")); // its words: test_settingspanel
        QCOMPARE(f.logic->change("passive_address", "::1"),
                 QString("Opzione passive_address: ::1 è un indirizzo IPv6: le risposte PASV "
                         "possono contenere solo un indirizzo IPv4 o un nome di host"));
        QCOMPARE(f.logic->load().passivePorts, QString("50000-50010"));
        QCOMPARE(f.logic->load().passiveAddress, QString("casa.example.net"));
        QCOMPARE(f.stored(),
                 (QStringList{"passive_address=bad name!", "passive_ports=50000 - 50010"}));
        QCOMPARE(f.logic->change("passive_ports", ""), std::nullopt);
        f.views->commitAll();
        QCOMPARE(f.stored(), (QStringList{"passive_address=casa.example.net", "passive_ports="}));
        QVERIFY(!f.views->options().isDirty());
    }

    void forwardingNamesTheControlPortAndTheRange() {
        Fixture f;
        QCOMPARE(f.logic->forwardingText("2121"),
                 QString("Sul router inoltrare a questo PC la porta TCP 2121. Indicare anche un "
                         "intervallo di porte passive: senza, chi si collega dall'esterno entra "
                         "ma non può trasferire file."));
        QCOMPARE(f.logic->change("passive_ports", "50000-50100"), std::nullopt);
        // A pending range counts already; an empty port box is the usual 21.
        QCOMPARE(f.logic->forwardingText(""),
                 QString("Sul router inoltrare a questo PC la porta TCP 21 (controllo) e le "
                         "porte TCP da 50000 a 50100 (dati, modalità passiva)."));
    }
};

QTEST_GUILESS_MAIN(TestRouterSettingsLogic)
#include "test_routersettingslogic.moc"
