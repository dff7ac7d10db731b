// The "Sicurezza" panel and the online panel's "Autorizza"/"Blocca".

#include "panels/ui/AdminPanels.h"
#include "panels/ui/IpListGroup.h"
#include "panels/ui/LoginProtectionGroup.h"
#include "panels/ui/RefusalMark.h"
#include "panels/ui/SecurityPanel.h"
#include "session/LoginBans.h"
#include "tests/support/PanelFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestSecurityPanel : public QObject {
    Q_OBJECT

    kv::testing::PanelFixture<kv::ui::SecurityPanel> f{&kv::ui::buildSecurityPanel};
    QTableView* grid(int i) { return f.built->list(i)->grid(); }
    QWidget* mask(int i) {
        return f.element<QWidget>(u"picIP"_s, i)->findChild<QWidget*>(u"picMaskIP"_s);
    }
    void click(const QString& name, int i) { f.element<QPushButton>(name, i)->click(); }
    kv::access::DataView& list(int i) { return f.host->core().views().DataIP(i); }
    kv::testing::RecordingMessages& rec() { return f.host->recorder; }
    void commit() { f.host->core().views().commitAll(); }
    QStringList stored(int i) {
        return f.host->column(i == 0 ? u"SELECT IP FROM IPok ORDER BY rowid"_s
                                     : u"SELECT IP FROM IPko ORDER BY rowid"_s);
    }

    // Rows for the allow list ("Autorizza") and the block list ("Blocca").
    static void bothLists() {
        QTest::addColumn<int>("index");
        QTest::newRow("allow list") << 0;
        QTest::newRow("block list") << 1;
    }

private Q_SLOTS:
    void cleanup() { f.reset(); }

    void newAndDeleteEditTheirOwnList_data() { bothLists(); }
    void newAndDeleteEditTheirOwnList() {
        QFETCH(int, index);
        f.build(
            {u"INSERT INTO IPok VALUES ('1.1.1.1')"_s, u"INSERT INTO IPko VALUES ('2.2.2.2')"_s});
        // One new row at a time, stored only once typed in.
        click(u"cmdNuovoIP"_s, index);
        click(u"cmdNuovoIP"_s, index);
        QCOMPARE(list(index).RecordCount(), 2);
        QCOMPARE(stored(index).size(), 1);
        QCOMPARE(list(index).currentRow(), 1);
        QCOMPARE(grid(index)->currentIndex().row(), 1);
        commit();
        QCOMPARE(stored(index).size(), 1); // an empty entry is never stored
        QCOMPARE(list(index).RecordCount(), 1);

        click(u"cmdNuovoIP"_s, index);
        QAbstractItemModel* model = grid(index)->model();
        model->setData(model->index(1, 0), u"9.9.9.9"_s);
        commit();
        QCOMPARE(stored(index).last(), u"9.9.9.9"_s);
        QCOMPARE(stored(1 - index).size(), 1);

        // A new row not yet stored goes without a question.
        click(u"cmdNuovoIP"_s, index);
        model->setData(model->index(2, 0), u"8.8.8.8"_s);
        click(u"cmdEliminaIP"_s, index); // the last: the one before follows
        QCOMPARE(list(index).RecordCount(), 2);
        QCOMPARE(list(index).currentRow(), 1);
        QVERIFY(rec().asked.isEmpty());

        // A stored entry is deleted only after a yes.
        const QString question = u"Eliminare \"9.9.9.9\" dalla lista degli IP %1?"_s.arg(
            index == 0 ? u"autorizzati"_s : u"bloccati"_s);
        click(u"cmdEliminaIP"_s, index);
        QCOMPARE(rec().asked, QStringList{question});
        QCOMPARE(stored(index).size(), 2);
        rec().answer = true;
        click(u"cmdEliminaIP"_s, index);
        QCOMPARE(rec().asked, QStringList(2, question));
        QCOMPARE(stored(index).size(), 1);
        QCOMPARE(list(index).currentRow(), 0);
        click(u"cmdEliminaIP"_s, index);
        QVERIFY(stored(index).isEmpty());
        QVERIFY(!list(index).hasCurrentRow());
        QCOMPARE(stored(1 - index).size(), 1);
        QVERIFY(rec().shown.isEmpty());
    }

    // A typed row that was left and saved is an entry like any other.
    void anEntryLeftIsAskedFor() {
        f.build({u"INSERT INTO IPko VALUES ('2.2.2.2')"_s});
        click(u"cmdNuovoIP"_s, 1);
        QAbstractItemModel* model = grid(1)->model();
        model->setData(model->index(1, 0), u"9.9.9.9"_s);
        grid(1)->setCurrentIndex(model->index(0, 0));
        QTRY_COMPARE(list(1).currentRow(), 0);
        grid(1)->setCurrentIndex(model->index(1, 0));
        QTRY_COMPARE(list(1).currentRow(), 1);
        click(u"cmdEliminaIP"_s, 1);
        QCOMPARE(rec().asked,
                 QStringList{u"Eliminare \"9.9.9.9\" dalla lista degli IP bloccati?"_s});
        QCOMPARE(stored(1), (QStringList{"2.2.2.2", "9.9.9.9"}));
    }

    // The cover over an address list's empty rows, for the grid heights the
    // window's layout gives (pixels inside the group; rows are 20 high).
    void coverFollowsRowsAndGridHeight_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("gridHeight");
        QTest::addColumn<QRect>("cover"); // empty: hidden
        QTest::newRow("empty") << 0 << 101 << QRect(0, 1, 380, 99);
        QTest::newRow("two rows") << 2 << 101 << QRect(0, 41, 380, 59);
        QTest::newRow("full") << 5 << 101 << QRect();
        QTest::newRow("taller grid") << 5 << 161 << QRect(0, 101, 380, 59);
        QTest::newRow("no room for a cover") << 4 << 82 << QRect();
    }
    void coverFollowsRowsAndGridHeight() {
        QFETCH(int, rows);
        QFETCH(int, gridHeight);
        QFETCH(QRect, cover);
        QStringList entries;
        for (int i = 0; i < rows; ++i)
            entries.append(u"INSERT INTO IPok VALUES ('10.0.0.%1')"_s.arg(i + 1));
        f.build(entries);
        f.panel->show(); // resize events reach shown widgets only
        grid(0)->resize(grid(0)->width(), gridHeight);
        QCOMPARE(mask(0)->isHidden(), cover.isNull());
        if (!cover.isNull())
            QCOMPARE(mask(0)->geometry(), cover);
    }

    void autorizzaAndBlocca_data() { bothLists(); }
    void autorizzaAndBlocca() {
        QFETCH(int, index);
        f.build({u"INSERT INTO IPok VALUES ('7.7.7.7')"_s, u"INSERT INTO IPko VALUES ('7.7.7.7')"_s,
                 u"INSERT INTO IPok VALUES ('8.8.8.8')"_s,
                 u"INSERT INTO IPko VALUES ('8.8.8.8')"_s});
        const auto act = [&] {
            index == 0 ? kv::ui::AutorizzaIPUtente(*f.host) : kv::ui::BloccaIPUtente(*f.host);
        };
        list(index).MoveLast();

        act(); // no client selected
        f.host->selectedAddress = QString();
        act();                                         // a client without an address
        f.host->selectedAddress = u"client.example"_s; // its name was never looked up
        act();
        QCOMPARE(rec().texts().mid(0, 2), QStringList(2, u"Non è selezionato alcun utente"_s));
        QVERIFY(rec().texts().last().startsWith(u"Voce non valida: \"client.example\""_s));
        QCOMPARE(rec().shown.last().second, kv::MessageIcon::Exclamation);
        QCOMPARE(stored(index).size(), 2);

        f.host->selectedAddress = u"127.0.0.5"_s;
        act();
        QCOMPARE(stored(index), (QStringList{"7.7.7.7", "8.8.8.8", "127.0.0.5"}));
        QCOMPARE(stored(1 - index), (QStringList{"7.7.7.7", "8.8.8.8"}));
        QCOMPARE(rec().shown.size(), 3); // nothing said on success
        QCOMPARE(grid(index)->model()->rowCount(), 3);
        // The row the operator was on stays current.
        QCOMPARE(list(index).Field(u"IP"_s), u"8.8.8.8"_s);

        act(); // twice: already listed, nothing added
        QCOMPARE(stored(index).size(), 3);
        QCOMPARE(rec().texts().last(),
                 QStringLiteral("L'indirizzo \"127.0.0.5\" è già inserito nella lista"));
        QCOMPARE(rec().shown.last().second, kv::MessageIcon::Exclamation);

        // Already on the other list: both lists then hold it.
        index = 1 - index;
        act();
        QCOMPARE(stored(0).count(u"127.0.0.5"_s), 1);
        QCOMPARE(stored(1).count(u"127.0.0.5"_s), 1);
    }

    // "Blocca" while the block list is off says so and offers to switch it on;
    // with the list on, or for "Autorizza", nothing is asked.
    void bloccaOffersToSwitchTheListOn_data() {
        QTest::addColumn<bool>("listOn");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("storedSwitch");
        QTest::newRow("off, no") << false << false << 1 << u"0"_s;
        QTest::newRow("off, yes") << false << true << 1 << u"1"_s;
        QTest::newRow("on") << true << true << 0 << u"1"_s;
    }
    void bloccaOffersToSwitchTheListOn() {
        QFETCH(bool, listOn);
        QFETCH(bool, answer);
        QFETCH(int, questions);
        QFETCH(QString, storedSwitch);
        f.build({u"UPDATE settings SET IPko = %1, IPok = 0"_s.arg(listOn ? 1 : 0)});
        f.host->selectedAddress = u"127.0.0.9"_s;
        rec().answer = answer;
        kv::ui::AutorizzaIPUtente(*f.host);
        QVERIFY(rec().asked.isEmpty());
        kv::ui::BloccaIPUtente(*f.host);
        QCOMPARE(stored(1), QStringList{u"127.0.0.9"_s});
        QCOMPARE(rec().asked.size(), questions);
        if (questions)
            QVERIFY(rec().asked.first().contains(u"\"127.0.0.9\""_s));
        QCOMPARE(f.host->column(u"SELECT IPko FROM settings"_s), QStringList{storedSwitch});
        QCOMPARE(f.child<QCheckBox>(u"chkIPko"_s)->isChecked(), storedSwitch == u"1"_s);
        QVERIFY(rec().shown.isEmpty());
    }

    // "Nuovo" opens the new entry's cell. An entry typed there is judged as
    // `kestrova ip block add` judges it (the messages: test_entrychecks): a
    // refused one stays in the cell, marked, until corrected or undone (Esc),
    // and leaves no row behind; an accepted one is stored.
    void typedEntriesMustBePatterns_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("CIDR") << u"192.168.1.0/24"_s << QString();
        QTest::newRow("host name")
            << u"server.example"_s
            << u"Voce non valida: \"server.example\" non è un indirizzo, un blocco CIDR, un "
               "intervallo o un indirizzo con *"_s;
        QTest::newRow("already listed")
            << u"2.2.2.2"_s << u"L'indirizzo \"2.2.2.2\" è già inserito nella lista"_s;
    }
    void typedEntriesMustBePatterns() {
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        f.build({u"INSERT INTO IPko VALUES ('2.2.2.2')"_s});
        f.panel->show();
        click(u"cmdNuovoIP"_s, 1);
        QPointer<QLineEdit> editor = grid(1)->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        QTest::keyClicks(editor, typed);
        QTest::keyClick(editor, Qt::Key_Return);
        if (refusal.isEmpty()) {
            QTRY_VERIFY(!editor); // the grid commits and closes its editor from the event loop
            commit();
            QCOMPARE(stored(1), (QStringList{u"2.2.2.2"_s, typed}));
        } else {
            QTest::qWait(50);
            QVERIFY(editor); // still open with what was typed, marked
            QCOMPARE(editor->text(), typed);
            QCOMPARE(kv::ui::refusalOf(editor), refusal);
            QCOMPARE(editor->toolTip(), refusal);
            QTest::keyClick(editor, Qt::Key_Escape);
            QTRY_VERIFY(!editor);
            QCOMPARE(list(1).RecordCount(), 1); // no empty row left in the list
            commit();
            QCOMPARE(stored(1), QStringList{u"2.2.2.2"_s});
        }
        QVERIFY(rec().shown.isEmpty());
    }

    // A click saves the switch at once (which logins a saved switch lets in,
    // a null one counting as on: test_loginhandler); a null switch (another
    // program's file) shows greyed.
    void switchesAreSavedAtOnce() {
        f.build({u"CREATE TABLE s2 AS SELECT * FROM settings"_s, u"DROP TABLE settings"_s,
                 u"CREATE TABLE settings AS SELECT * FROM s2"_s,
                 u"UPDATE settings SET IPok = NULL, IPko = 0"_s});
        const auto saved = [this] { return f.host->column(u"SELECT IPok||IPko FROM settings"_s); };
        auto* allow = f.child<QCheckBox>(u"chkIPok"_s);
        auto* block = f.child<QCheckBox>(u"chkIPko"_s);
        QCOMPARE(allow->checkState(), Qt::PartiallyChecked);
        allow->click();
        QCOMPARE(allow->checkState(), Qt::Checked);
        QVERIFY(!allow->isTristate());
        QCOMPARE(saved(), QStringList{u"10"_s});
        allow->click();
        QCOMPARE(saved(), QStringList{u"00"_s});
        block->click();
        QVERIFY(block->isChecked());
        QCOMPARE(saved(), QStringList{u"01"_s});
        QVERIFY(rec().shown.isEmpty());
    }

    void protectionBoxesKeepCheckedValues() {
        f.build();
        auto* attempts = f.child<QLineEdit>(u"txt_ban_attempts"_s);
        QCOMPARE(attempts->text(), u"5"_s); // a new database is protected
        QCOMPARE(f.child<QLineEdit>(u"txt_max_connections_per_ip"_s)->text(), u"32"_s);
        auto* reason = f.child<QLabel>(u"lblRefusal_ban_attempts"_s);
        attempts->setText(u"-3"_s);
        kv::testing::leaveBox(attempts);
        // The refused text stays to be corrected, with the catalog's reason
        // below it; nothing of it is kept.
        QCOMPARE(attempts->text(), u"-3"_s);
        QVERIFY(reason->isVisibleTo(f.panel.get()));
        QCOMPARE(reason->text(), u"Opzione ban_attempts: -3 non è un numero intero da 0 a 1000"_s);
        commit();
        QCOMPARE(f.host->column(u"SELECT value FROM options WHERE name = 'ban_attempts'"_s),
                 QStringList{u"5"_s});
        attempts->setText(u"0"_s);
        kv::testing::leaveBox(attempts);
        QVERIFY(!reason->isVisibleTo(f.panel.get()));
        QVERIFY(rec().shown.isEmpty());
        commit();
        QCOMPARE(f.host->column(u"SELECT value FROM options WHERE name = 'ban_attempts'"_s),
                 QStringList{u"0"_s});
    }

    void bannedAddressesListedAndLifted() {
        f.build();
        kv::session::LoginBans& bans = f.host->core().loginBans();
        bans.reset({1, 60000, 10 * 60000});
        auto* list = f.child<QTableWidget>(u"GridBans"_s);
        auto* unblock = f.child<QPushButton>(u"cmdUnban"_s);
        QCOMPARE(list->rowCount(), 0);
        QVERIFY(!unblock->isEnabled());
        bans.recordFailure(u"127.0.0.7"_s);
        bans.recordFailure(u"127.0.0.8"_s);
        QCOMPARE(list->rowCount(), 2); // shown when the ban starts
        QCOMPARE((QStringList{list->item(1, 0)->text(), list->item(1, 1)->text(),
                              list->item(1, 2)->text()}),
                 (QStringList{"127.0.0.8", "1", "10"}));
        list->selectRow(1);
        QVERIFY(unblock->isEnabled());
        unblock->click();
        QVERIFY(!bans.isBanned(u"127.0.0.8"_s));
        QVERIFY(bans.isBanned(u"127.0.0.7"_s));
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->item(0, 0)->text(), u"127.0.0.7"_s);
        QVERIFY(!unblock->isEnabled());
    }
};

QTEST_MAIN(TestSecurityPanel)
#include "test_securitypanel.moc"
