// The "Account" panel driven through its controls, with the rows checked in
// accounts.dat as another program would read them.

#include "admin/ui/AccountPanel.h"
#include "admin/ui/AdminPanels.h"
#include "tests/support/PanelTestHost.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlTableModel>
#include <QTableView>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

using kv::testing::arrayChild;
using kv::testing::PanelTestHost;

class TestAccountPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelTestHost> host;
    std::unique_ptr<QWidget> panel;

    void build(const QStringList& statements = {}) {
        host = std::make_unique<PanelTestHost>();
        host->exec(statements);
        host->core().views().openAll();
        panel = std::make_unique<QWidget>();
        kv::ui::buildAccountPanel(panel.get(), *host);
    }
    template <typename T> T* child(const QString& name) {
        T* found = panel->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    void click(const QString& button) { child<QPushButton>(button)->click(); }
    void type(const QString& box, const QString& text) {
        QLineEdit* edit = child<QLineEdit>(box);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    kv::access::DataView& users() { return host->core().views().Data1(); }
    QStringList logins() { return host->column(u"SELECT login FROM users ORDER BY ID"_s); }
    QWidget* details(int index) { return arrayChild<QWidget>(panel.get(), u"picDetails"_s, index); }

private Q_SLOTS:
    void cleanup() {
        panel.reset();
        host.reset();
    }

    void addEditAndDeleteReachTheFile() {
        build();
        click(u"cmdAdd"_s);
        QCOMPARE(logins(), QStringList{u"<null>"_s});
        QVERIFY(users().hasCurrentRow());

        type(u"txtLogin"_s, u"mario"_s);
        type(u"txtPassword"_s, u"segreta"_s);
        child<QCheckBox>(u"chkRead"_s)->click();
        child<QCheckBox>(u"chkScrittura"_s)->click();
        child<QCheckBox>(u"chkAbilitato"_s)->click();
        // Pending on the row until it is left.
        QCOMPARE(logins(), QStringList{u"<null>"_s});
        // The grid shows what the boxes hold, passwords in clear.
        QCOMPARE(users().model()->data(users().model()->index(0, 1)).toString(), u"mario"_s);

        click(u"cmdAdd"_s); // leaving the row saves it
        QCOMPARE(logins(), (QStringList{u"mario"_s, u"<null>"_s}));
        QCOMPARE(host->column(QStringLiteral(
                     "SELECT password||enabled||read||write||\"delete\"||browse||manage FROM users "
                     "WHERE login='mario'")),
                 QStringList{u"segreta110001"_s});
        // The new empty account is current, its boxes empty.
        QCOMPARE(child<QLineEdit>(u"txtLogin"_s)->text(), QString());
        QVERIFY(!child<QCheckBox>(u"chkRead"_s)->isChecked());

        click(u"cmdDelete"_s);
        QCOMPARE(logins(), QStringList{u"mario"_s});
        QCOMPARE(child<QLineEdit>(u"txtLogin"_s)->text(), u"mario"_s);
        click(u"cmdDelete"_s);
        QVERIFY(logins().isEmpty());
        QVERIFY(!users().hasCurrentRow());
        QVERIFY(host->recorder.shown.isEmpty()); // no confirmation questions
    }

    void gridEditsReachTheFile() {
        build({u"INSERT INTO users (login, password) VALUES ('anna', 'a')"_s});
        auto* grid = child<QTableView>(u"DBGrid1"_s);
        QVERIFY(!grid->isColumnHidden(1) && !grid->isColumnHidden(2));
        QVERIFY(grid->isColumnHidden(0) && grid->isColumnHidden(3));
        grid->model()->setData(grid->model()->index(0, 2), u"nuova"_s);
        QCOMPARE(child<QLineEdit>(u"txtPassword"_s)->text(), u"nuova"_s);
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT password FROM users"_s), QStringList{u"nuova"_s});
    }

    void duplicateLoginIsRefusedWithOneMessage_data() {
        QTest::addColumn<bool>("throughGrid");
        QTest::newRow("login box") << false;
        QTest::newRow("grid cell") << true;
    }
    void duplicateLoginIsRefusedWithOneMessage() {
        QFETCH(bool, throughGrid);
        build({u"INSERT INTO users (login, password) VALUES ('anna', 'a'), ('bruno', 'b')"_s});
        users().MoveNext();
        if (throughGrid)
            users().model()->setData(users().model()->index(1, 1), u"ANNA"_s);
        else
            type(u"txtLogin"_s, u"anna"_s);
        type(u"txtPassword"_s, u"nuova"_s);

        click(u"cmdAdd"_s);
        QCOMPARE(host->recorder.texts(), QStringList{u"Non è consentito duplicare i Login"_s});
        QCOMPARE(host->recorder.shown.first().second, kv::MessageIcon::Exclamation);
        // Nothing was added, the stored login shows again and can be saved.
        QCOMPARE(logins(), (QStringList{u"anna"_s, u"bruno"_s}));
        QCOMPARE(child<QLineEdit>(u"txtLogin"_s)->text(), u"bruno"_s);
        QVERIFY(!users().isDirty());
        click(u"cmdAdd"_s);
        QCOMPARE(logins().size(), 3);
        QCOMPARE(host->recorder.shown.size(), 1);
    }

    void otherErrorsShowTheirNumber() {
        build();
        auto& logic = panel->findChild<kv::ui::AccountPanel*>()->logic();
        QCOMPARE(logic.ErroreDB(3426), 0);
        QCOMPARE(logic.ErroreDB(16389), 0);
        QCOMPARE(logic.ErroreDB(524), 0);
        QCOMPARE(logic.ErroreDB(5), 1);
        QCOMPARE(host->recorder.texts().last(), u"5"_s);
        QCOMPARE(host->recorder.shown.last().second, kv::MessageIcon::None);
        QCOMPARE(host->recorder.texts().count(u"Non è consentito duplicare i Login"_s), 3);
    }

    void deletingRemovesExactlyItsVirtualFolders() {
        // An account numbered 0 (made by another program) is not the anonymous account.
        build({u"INSERT INTO users (ID, login) VALUES (0, 'zero'), (5, 'cinque'), (6, 'sei')"_s,
               u"INSERT INTO virtualdirs (name, user) VALUES ('a', 5), ('b', 6), ('c', 0), "
               "('d', 5), ('e', 50)"_s});
        const QString names = u"SELECT name FROM virtualdirs ORDER BY name"_s;
        click(u"cmdDelete"_s);
        QCOMPARE(logins(), (QStringList{"cinque", "sei"}));
        QCOMPARE(host->column(names), (QStringList{"a", "b", "c", "d", "e"}));
        click(u"cmdDelete"_s);
        QCOMPARE(logins(), QStringList{u"sei"_s});
        QCOMPARE(host->column(names), (QStringList{"b", "c", "e"}));
        QCOMPARE(users().Field(u"login"_s), u"sei"_s);
    }

    void aRefusedDeleteKeepsTheAccountsFolders() {
        build({u"INSERT INTO users (ID, login) VALUES (4, 'quattro')"_s,
               u"INSERT INTO virtualdirs (name, user) VALUES ('mia', 4)"_s,
               QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON users BEGIN SELECT "
                              "RAISE(ABORT, 'no'); END")});
        click(u"cmdDelete"_s);
        QCOMPARE(logins(), QStringList{"quattro"});
        QCOMPARE(host->column(u"SELECT name FROM virtualdirs"_s), QStringList{"mia"});
        QCOMPARE(host->recorder.shown.size(), 2); // the error number, then the database's text
        QCOMPARE(users().Field(u"login"_s), u"quattro"_s);
    }

    void clickingAGridRowMovesTheAccount() {
        build({u"INSERT INTO users (login) VALUES ('anna'), ('bruno')"_s});
        auto* grid = child<QTableView>(u"DBGrid1"_s);
        grid->setCurrentIndex(grid->model()->index(1, 1));
        QTRY_COMPARE(users().currentRow(), 1);
        QCOMPARE(child<QLineEdit>(u"txtLogin"_s)->text(), u"bruno"_s);

        // Leaving a row with a refused login: the message, and the row stays.
        type(u"txtLogin"_s, u"anna"_s);
        grid->setCurrentIndex(grid->model()->index(0, 1));
        QTRY_COMPARE(host->recorder.shown.size(), 1);
        QCOMPARE(users().currentRow(), 1);
        QCOMPARE(grid->currentIndex().row(), 1);
        QCOMPARE(logins(), (QStringList{"anna", "bruno"}));
    }

    void enteringTheGridSavesTheAccount() {
        build({u"INSERT INTO users (login) VALUES ('anna')"_s});
        panel->show();
        QApplication::setActiveWindow(panel.get());
        QVERIFY(QTest::qWaitForWindowActive(panel.get()));
        child<QLineEdit>(u"txtPassword"_s)->setFocus();
        type(u"txtPassword"_s, u"cambiata"_s);
        child<QTableView>(u"DBGrid1"_s)->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(host->column(u"SELECT password FROM users"_s), QStringList{"cambiata"});
    }

    void deletingTheLastRowSelectsThePreviousOne() {
        build({u"INSERT INTO users (login) VALUES ('a'), ('b'), ('c')"_s});
        users().MoveLast();
        click(u"cmdDelete"_s);
        QCOMPARE(users().Field(u"login"_s), u"b"_s);
        users().MoveFirst();
        click(u"cmdDelete"_s);
        QCOMPARE(users().Field(u"login"_s), u"b"_s);
        auto* grid = child<QTableView>(u"DBGrid1"_s);
        QCOMPARE(grid->currentIndex().row(), users().currentRow());
    }

    void groupsFollowTheCurrentAccount() {
        build();
        const QList<int> accountGroups = {0, 1, 2, 3, 7};
        for (int i = 0; i <= 8; ++i)
            QCOMPARE(details(i)->isEnabled(), !accountGroups.contains(i));
        auto* enabled = child<QCheckBox>(u"chkAbilitato"_s);
        QVERIFY(enabled->isEnabled());
        enabled->click(); // no account to switch on: the box stays clear
        QVERIFY(!enabled->isChecked());
        QVERIFY(logins().isEmpty());
        QVERIFY(child<QCheckBox>(u"chkAnonymous"_s)->isEnabled());
        click(u"cmdAdd"_s);
        for (int i = 0; i <= 8; ++i)
            QVERIFY(details(i)->isEnabled());
        click(u"cmdDelete"_s);
        for (int i : accountGroups)
            QVERIFY(!details(i)->isEnabled());
    }

    void coverLiesOverTheEmptyRows_data() {
        QTest::addColumn<int>("accounts");
        QTest::newRow("none") << 0;
        QTest::newRow("nine") << 9;
        QTest::newRow("ten") << 10;
    }
    void coverLiesOverTheEmptyRows() {
        QFETCH(int, accounts);
        QStringList rows;
        for (int i = 0; i < accounts; ++i)
            rows.append(u"INSERT INTO users (login) VALUES ('u%1')"_s.arg(i));
        build(rows);
        auto* grid = child<QTableView>(u"DBGrid1"_s);
        auto* cover = child<QWidget>(u"picOnGrid1"_s);
        const int rowHeight = grid->rowHeight(0) > 0 ? grid->rowHeight(0) : 20;
        // Ten rows and one pixel (15 twips).
        QCOMPARE(grid->height(), rowHeight * 10 + 1);
        QCOMPARE(cover->isHidden(), accounts >= 10);
        if (accounts < 10) {
            QCOMPARE(cover->y(), grid->y() + rowHeight * accounts + 1);
            QCOMPARE(cover->y() + cover->height(), grid->y() + rowHeight * 10);
        }
        // Adding one more account moves the cover down by one row.
        if (accounts == 9) {
            click(u"cmdAdd"_s);
            QVERIFY(cover->isHidden());
            click(u"cmdDelete"_s);
            QVERIFY(!cover->isHidden());
        }
    }

    void editorOpensForTheRightOwner() {
        build({u"INSERT INTO users (ID, login) VALUES (7, 'sette')"_s});
        auto* accountPanel = panel->findChild<kv::ui::AccountPanel*>();
        QList<int> opened;
        QList<int> duringOpen;
        accountPanel->setEditorOpener([&](int owner) {
            opened.append(owner);
            duringOpen.append(accountPanel->logic().VirtualDirUserID());
        });
        click(u"cmdUserVirtual"_s);
        click(u"cmdVirtualAnonymous"_s);
        QCOMPARE(opened, (QList<int>{7, 0}));
        QCOMPARE(duringOpen, (QList<int>{7, 0}));
        QCOMPARE(accountPanel->logic().VirtualDirUserID(), -2);

        click(u"cmdDelete"_s);
        accountPanel->logic().cmdUserVirtual([&](int owner) { opened.append(owner); });
        QCOMPARE(opened.size(), 2);
        QCOMPARE(host->recorder.texts(), QStringList{u"Nessun account selezionato"_s});
        QCOMPARE(accountPanel->logic().VirtualDirUserID(), -2);
    }

    void editorIsAModalWindowOverTheOwnersFolders_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("account") << u"cmdUserVirtual"_s << QStringList{u"mine"_s};
        QTest::newRow("anonymous") << u"cmdVirtualAnonymous"_s << QStringList{u"public"_s};
    }
    void editorIsAModalWindowOverTheOwnersFolders() {
        QFETCH(QString, button);
        QFETCH(QStringList, names);
        build({u"INSERT INTO users (ID, login) VALUES (3, 'tre')"_s,
               u"INSERT INTO virtualdirs (name, user) VALUES ('mine', 3)"_s,
               u"INSERT INTO virtualdirs (name, user) VALUES ('public', 0)"_s});
        panel->show();
        QStringList seen;
        QString title;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            auto* grid = dialog->findChild<QTableView*>(u"DBGrid1"_s);
            for (int row = 0; grid && row < grid->model()->rowCount(); ++row)
                seen.append(grid->model()->index(row, 0).data().toString());
            dialog->reject();
        });
        QTimer::singleShot(5000, this, [] {
            if (auto* modal = QApplication::activeModalWidget())
                modal->close();
        });
        click(button);
        QCOMPARE(title, u"Cartelle virtuali"_s);
        QCOMPARE(seen, names);
    }

    void rootPickersAndDefaultButtons_data() {
        QTest::addColumn<bool>("anonymous");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("account") << false << u"Seleziona la root per l'utente:"_s;
        QTest::newRow("anonymous") << true << u"Seleziona la root per l'utente anonimo:"_s;
    }
    void rootPickersAndDefaultButtons() {
        QFETCH(bool, anonymous);
        QFETCH(QString, prompt);
        // The anonymous section's controls carry the same names ending in "Anon".
        const QString suffix = anonymous ? u"Anon"_s : QString();
        const QString browse = "cmdUserBrowse" + suffix, reset = "cmdDefaultRoot" + suffix;
        const QString box = "txtUserRoot" + suffix, overlay = "picDefault" + suffix;
        build({u"INSERT INTO users (login, rootdir) VALUES ('r', '/old')"_s,
               u"UPDATE anonymous SET rootdir='/old'"_s});
        auto* edit = child<QLineEdit>(box);
        auto* marker = child<QLabel>(overlay);
        kv::access::DataView& view = anonymous ? host->core().views().Data3() : users();
        QCOMPARE(edit->text(), u"/old"_s);
        QVERIFY(marker->isHidden());

        host->pickerAnswer = QString(); // cancelled: nothing changes
        click(browse);
        QCOMPARE(edit->text(), u"/old"_s);
        host->pickerAnswer = u"/srv/ftp"_s;
        click(browse);
        QCOMPARE(edit->text(), u"/srv/ftp"_s);
        QCOMPARE(view.Field(u"rootdir"_s), u"/srv/ftp"_s);
        QCOMPARE(host->pickerCalls.size(), 2);
        QCOMPARE(host->pickerCalls[0].prompt, prompt);
        QCOMPARE(host->pickerCalls[1].defaultRoot, u"/old"_s);

        click(reset);
        QVERIFY(!marker->isHidden());
        QCOMPARE(view.Field(u"rootdir"_s), QString());
        QTest::keyClicks(edit, u"x"_s);
        QVERIFY(marker->isHidden());
        click(reset);
        host->core().views().commitAll();
        // An empty root is stored as an empty text, never a placeholder.
        QCOMPARE(host->column(anonymous ? u"SELECT rootdir FROM anonymous"_s
                                        : u"SELECT rootdir FROM users"_s),
                 QStringList{QString()});
    }

    void anonymousSectionEditsTheAnonymousRow() {
        build();
        child<QCheckBox>(u"chkAnonymous"_s)->click();
        child<QCheckBox>(u"Check4"_s)->click(); // delete
        child<QCheckBox>(u"Check6"_s)->click(); // browse was on by default
        host->core().views().commitAll();
        QCOMPARE(host->column(QStringLiteral(
                     "SELECT enabled||read||write||\"delete\"||browse||manage FROM anonymous")),
                 QStringList{u"110100"_s});
    }
};

QTEST_MAIN(TestAccountPanel)
#include "test_accountpanel.moc"
