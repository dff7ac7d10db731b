// The "Account" panel driven through its controls, with the rows checked in
// accounts.dat as another program would read them.

#include "PanelTestHost.h"
#include "admin/ui/AccountPanel.h"
#include "admin/ui/AdminPanels.h"

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
    QStringList logins() {
        return host->column(QStringLiteral("SELECT login FROM users ORDER BY ID"));
    }
    QWidget* details(int index) {
        return arrayChild<QWidget>(panel.get(), QStringLiteral("picDetails"), index);
    }

private Q_SLOTS:
    void cleanup() {
        panel.reset();
        host.reset();
    }

    void addEditAndDeleteReachTheFile() {
        build();
        click(QStringLiteral("cmdAdd"));
        QCOMPARE(logins(), QStringList{QStringLiteral("<null>")});
        QVERIFY(users().hasCurrentRow());

        type(QStringLiteral("txtLogin"), QStringLiteral("mario"));
        type(QStringLiteral("txtPassword"), QStringLiteral("segreta"));
        child<QCheckBox>(QStringLiteral("chkRead"))->click();
        child<QCheckBox>(QStringLiteral("chkScrittura"))->click();
        child<QCheckBox>(QStringLiteral("chkAbilitato"))->click();
        // Pending on the row until it is left.
        QCOMPARE(logins(), QStringList{QStringLiteral("<null>")});
        // The grid shows what the boxes hold, passwords in clear.
        QCOMPARE(users().model()->data(users().model()->index(0, 1)).toString(),
                 QStringLiteral("mario"));

        click(QStringLiteral("cmdAdd")); // leaving the row saves it
        QCOMPARE(logins(), (QStringList{QStringLiteral("mario"), QStringLiteral("<null>")}));
        QCOMPARE(host->column(QStringLiteral(
                     "SELECT password||enabled||read||write||\"delete\"||browse||manage FROM users "
                     "WHERE login='mario'")),
                 QStringList{QStringLiteral("segreta110001")});
        // The new empty account is current, its boxes empty.
        QCOMPARE(child<QLineEdit>(QStringLiteral("txtLogin"))->text(), QString());
        QVERIFY(!child<QCheckBox>(QStringLiteral("chkRead"))->isChecked());

        click(QStringLiteral("cmdDelete"));
        QCOMPARE(logins(), QStringList{QStringLiteral("mario")});
        QCOMPARE(child<QLineEdit>(QStringLiteral("txtLogin"))->text(), QStringLiteral("mario"));
        click(QStringLiteral("cmdDelete"));
        QVERIFY(logins().isEmpty());
        QVERIFY(!users().hasCurrentRow());
        QVERIFY(host->recorder.shown.isEmpty()); // no confirmation questions
    }

    void gridEditsReachTheFile() {
        build({QStringLiteral("INSERT INTO users (login, password) VALUES ('anna', 'a')")});
        auto* grid = child<QTableView>(QStringLiteral("DBGrid1"));
        QVERIFY(!grid->isColumnHidden(1) && !grid->isColumnHidden(2));
        QVERIFY(grid->isColumnHidden(0) && grid->isColumnHidden(3));
        grid->model()->setData(grid->model()->index(0, 2), QStringLiteral("nuova"));
        QCOMPARE(child<QLineEdit>(QStringLiteral("txtPassword"))->text(), QStringLiteral("nuova"));
        host->core().views().commitAll();
        QCOMPARE(host->column(QStringLiteral("SELECT password FROM users")),
                 QStringList{QStringLiteral("nuova")});
    }

    void duplicateLoginIsRefusedWithOneMessage_data() {
        QTest::addColumn<bool>("throughGrid");
        QTest::newRow("login box") << false;
        QTest::newRow("grid cell") << true;
    }
    void duplicateLoginIsRefusedWithOneMessage() {
        QFETCH(bool, throughGrid);
        build({QStringLiteral("INSERT INTO users (login, password) VALUES ('anna', 'a')"),
               QStringLiteral("INSERT INTO users (login, password) VALUES ('bruno', 'b')")});
        users().MoveNext();
        if (throughGrid)
            users().model()->setData(users().model()->index(1, 1), QStringLiteral("ANNA"));
        else
            type(QStringLiteral("txtLogin"), QStringLiteral("anna"));
        type(QStringLiteral("txtPassword"), QStringLiteral("nuova"));

        click(QStringLiteral("cmdAdd"));
        QCOMPARE(host->recorder.texts(),
                 QStringList{QStringLiteral("Non è consentito duplicare i Login")});
        QCOMPARE(host->recorder.shown.first().second, kv::MessageIcon::Exclamation);
        // Nothing was added, the stored login shows again and can be saved.
        QCOMPARE(logins(), (QStringList{QStringLiteral("anna"), QStringLiteral("bruno")}));
        QCOMPARE(child<QLineEdit>(QStringLiteral("txtLogin"))->text(), QStringLiteral("bruno"));
        QVERIFY(!users().isDirty());
        click(QStringLiteral("cmdAdd"));
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
        QCOMPARE(host->recorder.texts().last(), QStringLiteral("5"));
        QCOMPARE(host->recorder.shown.last().second, kv::MessageIcon::None);
        QCOMPARE(host->recorder.texts().count(QStringLiteral("Non è consentito duplicare i Login")),
                 3);
    }

    void deletingRemovesExactlyItsVirtualFolders() {
        build({QStringLiteral("INSERT INTO users (ID, login) VALUES (5, 'cinque')"),
               QStringLiteral("INSERT INTO users (ID, login) VALUES (6, 'sei')"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('a', 5)"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('b', 6)"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('c', 0)"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('d', 5)"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('e', 50)")});
        click(QStringLiteral("cmdDelete"));
        QCOMPARE(logins(), QStringList{QStringLiteral("sei")});
        QCOMPARE(host->column(QStringLiteral("SELECT name FROM virtualdirs ORDER BY name")),
                 (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("e")}));
        QCOMPARE(users().Field(QStringLiteral("login")), QStringLiteral("sei"));
    }

    void anonymousFoldersSurviveEveryAccountDelete() {
        // An account numbered 0 (made by another program) is not the anonymous account.
        build({QStringLiteral("INSERT INTO users (ID, login) VALUES (0, 'zero')"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('pub', 0)")});
        click(QStringLiteral("cmdDelete"));
        QVERIFY(logins().isEmpty());
        QCOMPARE(host->column(QStringLiteral("SELECT name FROM virtualdirs")), QStringList{"pub"});
    }

    void aRefusedDeleteKeepsTheAccountsFolders() {
        build({QStringLiteral("INSERT INTO users (ID, login) VALUES (4, 'quattro')"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('mia', 4)"),
               QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON users BEGIN SELECT "
                              "RAISE(ABORT, 'no'); END")});
        click(QStringLiteral("cmdDelete"));
        QCOMPARE(logins(), QStringList{"quattro"});
        QCOMPARE(host->column(QStringLiteral("SELECT name FROM virtualdirs")), QStringList{"mia"});
        QCOMPARE(host->recorder.shown.size(), 2); // the error number, then the database's text
        QCOMPARE(users().Field(QStringLiteral("login")), QStringLiteral("quattro"));
    }

    void clickingAGridRowMovesTheAccount() {
        build({QStringLiteral("INSERT INTO users (login) VALUES ('anna')"),
               QStringLiteral("INSERT INTO users (login) VALUES ('bruno')")});
        auto* grid = child<QTableView>(QStringLiteral("DBGrid1"));
        grid->setCurrentIndex(grid->model()->index(1, 1));
        QTRY_COMPARE(users().currentRow(), 1);
        QCOMPARE(child<QLineEdit>(QStringLiteral("txtLogin"))->text(), QStringLiteral("bruno"));

        // Leaving a row with a refused login: the message, and the row stays.
        type(QStringLiteral("txtLogin"), QStringLiteral("anna"));
        grid->setCurrentIndex(grid->model()->index(0, 1));
        QTRY_COMPARE(host->recorder.shown.size(), 1);
        QCOMPARE(users().currentRow(), 1);
        QCOMPARE(grid->currentIndex().row(), 1);
        QCOMPARE(logins(), (QStringList{"anna", "bruno"}));
    }

    void enteringTheGridSavesTheAccount() {
        build({QStringLiteral("INSERT INTO users (login) VALUES ('anna')")});
        panel->show();
        QApplication::setActiveWindow(panel.get());
        QVERIFY(QTest::qWaitForWindowActive(panel.get()));
        child<QLineEdit>(QStringLiteral("txtPassword"))->setFocus();
        type(QStringLiteral("txtPassword"), QStringLiteral("cambiata"));
        child<QTableView>(QStringLiteral("DBGrid1"))->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(host->column(QStringLiteral("SELECT password FROM users")),
                     QStringList{"cambiata"});
    }

    void deletingTheLastRowSelectsThePreviousOne() {
        build({QStringLiteral("INSERT INTO users (login) VALUES ('a')"),
               QStringLiteral("INSERT INTO users (login) VALUES ('b')"),
               QStringLiteral("INSERT INTO users (login) VALUES ('c')")});
        users().MoveLast();
        click(QStringLiteral("cmdDelete"));
        QCOMPARE(users().Field(QStringLiteral("login")), QStringLiteral("b"));
        users().MoveFirst();
        click(QStringLiteral("cmdDelete"));
        QCOMPARE(users().Field(QStringLiteral("login")), QStringLiteral("b"));
        auto* grid = child<QTableView>(QStringLiteral("DBGrid1"));
        QCOMPARE(grid->currentIndex().row(), users().currentRow());
    }

    void groupsFollowTheCurrentAccount() {
        build();
        const QList<int> accountGroups = {0, 1, 2, 3, 7};
        for (int i = 0; i <= 8; ++i)
            QCOMPARE(details(i)->isEnabled(), !accountGroups.contains(i));
        auto* enabled = child<QCheckBox>(QStringLiteral("chkAbilitato"));
        QVERIFY(enabled->isEnabled());
        enabled->click(); // no account to switch on: the box stays clear
        QVERIFY(!enabled->isChecked());
        QVERIFY(logins().isEmpty());
        QVERIFY(child<QCheckBox>(QStringLiteral("chkAnonymous"))->isEnabled());
        click(QStringLiteral("cmdAdd"));
        for (int i = 0; i <= 8; ++i)
            QVERIFY(details(i)->isEnabled());
        click(QStringLiteral("cmdDelete"));
        for (int i : accountGroups)
            QVERIFY(!details(i)->isEnabled());
    }

    void coverLiesOverTheEmptyRows_data() {
        QTest::addColumn<int>("accounts");
        QTest::newRow("none") << 0;
        QTest::newRow("nine") << 9;
        QTest::newRow("ten") << 10;
        QTest::newRow("twelve") << 12;
    }
    void coverLiesOverTheEmptyRows() {
        QFETCH(int, accounts);
        QStringList rows;
        for (int i = 0; i < accounts; ++i)
            rows.append(QStringLiteral("INSERT INTO users (login) VALUES ('u%1')").arg(i));
        build(rows);
        auto* grid = child<QTableView>(QStringLiteral("DBGrid1"));
        auto* cover = child<QWidget>(QStringLiteral("picOnGrid1"));
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
            click(QStringLiteral("cmdAdd"));
            QVERIFY(cover->isHidden());
            click(QStringLiteral("cmdDelete"));
            QVERIFY(!cover->isHidden());
        }
    }

    void editorOpensForTheRightOwner() {
        build({QStringLiteral("INSERT INTO users (ID, login) VALUES (7, 'sette')")});
        auto* accountPanel = panel->findChild<kv::ui::AccountPanel*>();
        QList<int> opened;
        QList<int> duringOpen;
        accountPanel->setEditorOpener([&](int owner) {
            opened.append(owner);
            duringOpen.append(accountPanel->logic().VirtualDirUserID());
        });
        click(QStringLiteral("cmdUserVirtual"));
        click(QStringLiteral("cmdVirtualAnonymous"));
        QCOMPARE(opened, (QList<int>{7, 0}));
        QCOMPARE(duringOpen, (QList<int>{7, 0}));
        QCOMPARE(accountPanel->logic().VirtualDirUserID(), -2);

        click(QStringLiteral("cmdDelete"));
        accountPanel->logic().cmdUserVirtual([&](int owner) { opened.append(owner); });
        QCOMPARE(opened.size(), 2);
        QCOMPARE(host->recorder.texts(), QStringList{QStringLiteral("Nessun account selezionato")});
        QCOMPARE(accountPanel->logic().VirtualDirUserID(), -2);
    }

    void editorIsAModalWindowOverTheOwnersFolders_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("account") << QStringLiteral("cmdUserVirtual")
                                 << QStringList{QStringLiteral("mine")};
        QTest::newRow("anonymous")
            << QStringLiteral("cmdVirtualAnonymous") << QStringList{QStringLiteral("public")};
    }
    void editorIsAModalWindowOverTheOwnersFolders() {
        QFETCH(QString, button);
        QFETCH(QStringList, names);
        build({QStringLiteral("INSERT INTO users (ID, login) VALUES (3, 'tre')"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('mine', 3)"),
               QStringLiteral("INSERT INTO virtualdirs (name, user) VALUES ('public', 0)")});
        panel->show();
        QStringList seen;
        QString title;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            auto* grid = dialog->findChild<QTableView*>(QStringLiteral("DBGrid1"));
            for (int row = 0; grid && row < grid->model()->rowCount(); ++row)
                seen.append(grid->model()->index(row, 0).data().toString());
            dialog->reject();
        });
        QTimer::singleShot(5000, this, [] {
            if (auto* modal = QApplication::activeModalWidget())
                modal->close();
        });
        click(button);
        QCOMPARE(title, QStringLiteral("Cartelle virtuali"));
        QCOMPARE(seen, names);
    }

    void rootPickersAndDefaultButtons_data() {
        QTest::addColumn<QString>("browse");
        QTest::addColumn<QString>("reset");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("overlay");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<bool>("anonymous");
        QTest::newRow("account") << QStringLiteral("cmdUserBrowse")
                                 << QStringLiteral("cmdDefaultRoot")
                                 << QStringLiteral("txtUserRoot") << QStringLiteral("picDefault")
                                 << QStringLiteral("Seleziona la root per l'utente:") << false;
        QTest::newRow("anonymous")
            << QStringLiteral("cmdUserBrowseAnon") << QStringLiteral("cmdDefaultRootAnon")
            << QStringLiteral("txtUserRootAnon") << QStringLiteral("picDefaultAnon")
            << QStringLiteral("Seleziona la root per l'utente anonimo:") << true;
    }
    void rootPickersAndDefaultButtons() {
        QFETCH(QString, browse);
        QFETCH(QString, reset);
        QFETCH(QString, box);
        QFETCH(QString, overlay);
        QFETCH(QString, prompt);
        QFETCH(bool, anonymous);
        build({QStringLiteral("INSERT INTO users (login, rootdir) VALUES ('r', '/old')"),
               QStringLiteral("UPDATE anonymous SET rootdir='/old'")});
        auto* edit = child<QLineEdit>(box);
        auto* marker = child<QLabel>(overlay);
        kv::access::DataView& view = anonymous ? host->core().views().Data3() : users();
        QCOMPARE(edit->text(), QStringLiteral("/old"));
        QVERIFY(marker->isHidden());

        host->pickerAnswer = QString(); // cancelled: nothing changes
        click(browse);
        QCOMPARE(edit->text(), QStringLiteral("/old"));
        host->pickerAnswer = QStringLiteral("/srv/ftp");
        click(browse);
        QCOMPARE(edit->text(), QStringLiteral("/srv/ftp"));
        QCOMPARE(view.Field(QStringLiteral("rootdir")), QStringLiteral("/srv/ftp"));
        QCOMPARE(host->pickerCalls.size(), 2);
        QCOMPARE(host->pickerCalls[0].prompt, prompt);
        QCOMPARE(host->pickerCalls[1].defaultRoot, QStringLiteral("/old"));

        click(reset);
        QVERIFY(!marker->isHidden());
        QCOMPARE(view.Field(QStringLiteral("rootdir")), QString());
        QTest::keyClicks(edit, QStringLiteral("x"));
        QVERIFY(marker->isHidden());
        click(reset);
        host->core().views().commitAll();
        // An empty root is stored as an empty text, never a placeholder.
        QCOMPARE(host->column(anonymous ? QStringLiteral("SELECT rootdir FROM anonymous")
                                        : QStringLiteral("SELECT rootdir FROM users")),
                 QStringList{QString()});
    }

    void anonymousSectionEditsTheAnonymousRow() {
        build();
        child<QCheckBox>(QStringLiteral("chkAnonymous"))->click();
        child<QCheckBox>(QStringLiteral("Check4"))->click(); // delete
        child<QCheckBox>(QStringLiteral("Check6"))->click(); // browse was on by default
        host->core().views().commitAll();
        QCOMPARE(host->column(QStringLiteral(
                     "SELECT enabled||read||write||\"delete\"||browse||manage FROM anonymous")),
                 QStringList{QStringLiteral("110100")});
    }
};

QTEST_MAIN(TestAccountPanel)
#include "test_accountpanel.moc"
