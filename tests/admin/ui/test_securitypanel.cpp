// The "Sicurezza" panel: both address lists with their buttons, covers and
// switches, and the online panel's "Autorizza"/"Blocca".

#include "admin/logic/IpListLogic.h"
#include "admin/ui/AdminPanels.h"
#include "admin/ui/SecurityPanel.h"
#include "tests/support/PanelTestHost.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace Qt::StringLiterals;

using kv::testing::arrayChild;
using kv::testing::PanelTestHost;

class TestSecurityPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelTestHost> host;
    std::unique_ptr<QWidget> panel;

    void build(const QStringList& statements = {}) {
        host = std::make_unique<PanelTestHost>();
        host->exec(statements);
        host->core().views().openAll();
        panel = std::make_unique<QWidget>();
        kv::ui::buildSecurityPanel(panel.get(), *host);
    }
    QWidget* group(int i) { return arrayChild<QWidget>(panel.get(), u"picIP"_s, i); }
    QTableView* grid(int i) { return group(i)->findChild<QTableView*>(u"GridIP"_s); }
    QWidget* mask(int i) { return group(i)->findChild<QWidget*>(u"picMaskIP"_s); }
    void click(const QString& name, int i) {
        arrayChild<QPushButton>(panel.get(), name, i)->click();
    }
    kv::access::DataView& list(int i) { return host->core().views().DataIP(i); }
    QStringList stored(int i) {
        return host->column(i == 0 ? u"SELECT IP FROM IPok ORDER BY rowid"_s
                                   : u"SELECT IP FROM IPko ORDER BY rowid"_s);
    }

private Q_SLOTS:
    void cleanup() {
        panel.reset();
        host.reset();
    }

    void newAndDeleteEditTheirOwnList_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("allow list") << 0;
        QTest::newRow("block list") << 1;
    }
    void newAndDeleteEditTheirOwnList() {
        QFETCH(int, index);
        build({u"INSERT INTO IPok VALUES ('1.1.1.1')"_s, u"INSERT INTO IPko VALUES ('2.2.2.2')"_s});
        click(u"cmdNuovoIP"_s, index);
        click(u"cmdNuovoIP"_s, index);
        QCOMPARE(stored(index).size(), 3);
        QCOMPARE(stored(1 - index).size(), 1);
        QCOMPARE(list(index).currentRow(), 2);
        QCOMPARE(grid(index)->currentIndex().row(), 2);

        // The operator types the address into the selected row.
        QAbstractItemModel* model = grid(index)->model();
        model->setData(model->index(2, 0), u"9.9.9.9"_s);
        host->core().views().commitAll();
        QCOMPARE(stored(index).last(), u"9.9.9.9"_s);

        click(u"cmdEliminaIP"_s, index); // the last: the one before follows
        QCOMPARE(stored(index).size(), 2);
        QCOMPARE(list(index).currentRow(), 1);
        list(index).MoveFirst();
        click(u"cmdEliminaIP"_s, index);
        QCOMPARE(list(index).currentRow(), 0);
        click(u"cmdEliminaIP"_s, index);
        QVERIFY(stored(index).isEmpty());
        QVERIFY(!list(index).hasCurrentRow());
        QCOMPARE(stored(1 - index).size(), 1);
        QVERIFY(host->recorder.shown.isEmpty());
    }

    void coverFollowsRowsAndGridHeight() {
        build();
        panel->show(); // resize events reach shown widgets only
        grid(0)->resize(grid(0)->width(), 5 * 20 + 1);
        QVERIFY(!mask(0)->isHidden());
        // Empty list: everything below the first 15 twips is covered.
        QCOMPARE(mask(0)->y(), 1);
        QCOMPARE(mask(0)->height(), 5 * 20 + 1 - 1 - 1);
        click(u"cmdNuovoIP"_s, 0);
        QCOMPARE(mask(0)->y(), 21);
        for (int i = 0; i < 4; ++i)
            click(u"cmdNuovoIP"_s, 0);
        QVERIFY(mask(0)->isHidden());
        // A taller grid (the window's layout) shows the cover again.
        grid(0)->resize(grid(0)->width(), 8 * 20 + 1);
        QVERIFY(!mask(0)->isHidden());
        QCOMPARE(mask(0)->y(), 101);
        QMetaObject::invokeMethod(group(0), "AdattaGrigliaIP");
        QCOMPARE(mask(0)->height(), 8 * 20 + 1 - 101 - 1);
    }

    void coverSizesInTwips_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("gridHeight");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("height");
        QTest::newRow("empty") << 0 << 1515 << true << 15 << 1485;
        QTest::newRow("two rows") << 2 << 1515 << true << 615 << 885;
        QTest::newRow("full") << 5 << 1515 << false << 0 << 0;
        QTest::newRow("more than fit") << 9 << 1515 << false << 0 << 0;
        QTest::newRow("no room for a cover") << 4 << 1225 << false << 0 << 0;
    }
    void coverSizesInTwips() {
        QFETCH(int, rows);
        QFETCH(int, gridHeight);
        QFETCH(bool, visible);
        QFETCH(int, top);
        QFETCH(int, height);
        const auto m = kv::admin::AdattaGrigliaIP(300, rows, gridHeight);
        QCOMPARE(m.visible, visible);
        QCOMPARE(m.top, top);
        QCOMPARE(m.height, height);
    }

    void autorizzaAndBlocca_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("Autorizza") << 0;
        QTest::newRow("Blocca") << 1;
    }
    void autorizzaAndBlocca() {
        QFETCH(int, index);
        build({u"INSERT INTO IPok VALUES ('7.7.7.7')"_s, u"INSERT INTO IPko VALUES ('7.7.7.7')"_s,
               u"INSERT INTO IPok VALUES ('8.8.8.8')"_s, u"INSERT INTO IPko VALUES ('8.8.8.8')"_s});
        const auto act = [&] {
            index == 0 ? kv::ui::AutorizzaIPUtente(*host) : kv::ui::BloccaIPUtente(*host);
        };
        list(index).MoveLast();

        act(); // no client selected
        host->selectedAddress = QString();
        act(); // a client without an address
        QCOMPARE(host->recorder.texts(), QStringList(2, u"Non è selezionato alcun utente"_s));
        QCOMPARE(host->recorder.shown.last().second, kv::MessageIcon::Exclamation);
        QCOMPARE(stored(index).size(), 2);

        host->selectedAddress = u"127.0.0.5"_s;
        act();
        QCOMPARE(stored(index), (QStringList{"7.7.7.7", "8.8.8.8", "127.0.0.5"}));
        QCOMPARE(stored(1 - index), (QStringList{"7.7.7.7", "8.8.8.8"}));
        QCOMPARE(host->recorder.shown.size(), 2); // nothing said on success
        QCOMPARE(grid(index)->model()->rowCount(), 3);
        // The row the operator was on stays current.
        QCOMPARE(list(index).Field(u"IP"_s), u"8.8.8.8"_s);

        act(); // twice: already listed, nothing added
        QCOMPARE(stored(index).size(), 3);
        QCOMPARE(host->recorder.texts().last(),
                 QStringLiteral("L'indirizzo \"127.0.0.5\" è già inserito nella lista"));
        QCOMPARE(host->recorder.shown.last().second, kv::MessageIcon::Exclamation);

        // Already on the other list: both lists then hold it.
        index = 1 - index;
        act();
        QCOMPARE(stored(0).count(u"127.0.0.5"_s), 1);
        QCOMPARE(stored(1).count(u"127.0.0.5"_s), 1);
    }

    void switchesEditTheSettingsRowAndAnswerLogins() {
        build();
        auto* panelLogic = panel->findChild<kv::ui::SecurityPanel*>();
        QVERIFY(!panelLogic->AllowListOn());
        QVERIFY(!panelLogic->BlockListOn());
        panel->findChild<QCheckBox*>(u"chkIPko"_s)->click();
        // In force at once, before the row is saved.
        QVERIFY(panelLogic->BlockListOn());
        QVERIFY(!panelLogic->AllowListOn());
        QVERIFY(host->core().views().Data2().isTrue(u"IPko"_s));
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT IPok||IPko FROM settings"_s), QStringList{"01"});
    }

    void aNullSwitchShowsGreyedAndCountsAsOn() {
        build({u"CREATE TABLE s2 AS SELECT * FROM settings"_s, u"DROP TABLE settings"_s,
               u"CREATE TABLE settings AS SELECT * FROM s2"_s,
               u"UPDATE settings SET IPok = NULL"_s});
        auto* box = panel->findChild<QCheckBox*>(u"chkIPok"_s);
        QCOMPARE(box->checkState(), Qt::PartiallyChecked);
        QVERIFY(panel->findChild<kv::ui::SecurityPanel*>()->AllowListOn());
        box->click();
        QCOMPARE(box->checkState(), Qt::Checked);
        QVERIFY(!box->isTristate());
    }
};

QTEST_MAIN(TestSecurityPanel)
#include "test_securitypanel.moc"
