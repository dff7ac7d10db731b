// The "Account" panel driven through its controls, with the rows checked in
// accounts.dat as another program would read them.

#include "access/PasswordHash.h"
#include "panels/ui/AccountPanel.h"
#include "panels/ui/AdminPanels.h"
#include "panels/ui/RefusalMark.h"
#include "tests/support/PanelFixture.h"
#include "tests/support/SampleKeys.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QSqlTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestAccountPanel : public QObject {
    Q_OBJECT

    kv::testing::PanelFixture<kv::ui::AccountPanel> f{&kv::ui::buildAccountPanel};

    kv::access::DataView& users() { return f.host->core().views().Data1(); }
    QStringList logins() { return f.column(u"SELECT login FROM users ORDER BY ID"_s); }
    QTableView* grid() { return f.child<QTableView>(u"DBGrid1"_s); }
    QString login() { return f.child<QLineEdit>(u"txtLogin"_s)->text(); }
    kv::testing::RecordingMessages& rec() { return f.host->recorder; }
    void commit() { f.host->core().views().commitAll(); }
    // Typed over what the box holds, then Return: the box's value is judged.
    void enter(const QString& box, const QString& text) {
        f.type(box, text);
        if (text.isEmpty())
            QTest::keyClick(f.child<QLineEdit>(box), Qt::Key_Delete);
        QTest::keyClick(f.child<QLineEdit>(box), Qt::Key_Return);
    }
    QString status() { return f.child<QLabel>(u"lblAccountStatus"_s)->text(); }
    QString refusal(const QString& box) { return kv::ui::refusalOf(f.child<QLineEdit>(box)); }
    QStringList folders() { return f.column(u"SELECT name FROM virtualdirs ORDER BY name"_s); }
    // The password stored for `login` is a yescrypt hash that `password` opens.
    bool storedPasswordIs(const QString& login, const QString& password) {
        const QStringList values =
            f.column(u"SELECT password FROM users WHERE login='%1'"_s.arg(login));
        return values.size() == 1 && values[0].startsWith(u"$y$"_s) &&
               kv::access::passwordMatches(values[0], password);
    }

private Q_SLOTS:
    void cleanup() { f.reset(); }

    // "Nuovo account" makes an enabled account with the read and browse
    // rights, stored once it has a login and is left; the line beside the
    // details says what it can do.
    void addEditAndDeleteReachTheFile() {
        f.build();
        f.click(u"cmdAdd"_s);
        QVERIFY(logins().isEmpty()); // nothing half-made is stored
        QCOMPARE(status(), u"Senza password: non può accedere"_s);
        QVERIFY(f.child<QCheckBox>(u"chkAbilitato"_s)->isChecked());
        QVERIFY(f.child<QCheckBox>(u"chkRead"_s)->isChecked());
        QVERIFY(f.child<QCheckBox>(u"chkNavigazione"_s)->isChecked());
        QVERIFY(!f.child<QCheckBox>(u"chkWrite"_s)->isChecked());
        enter(u"txtLogin"_s, u"mario"_s);
        f.type(u"txtPassword"_s, u"segreta"_s);
        QCOMPARE(status(), u"Può scaricare e sfogliare le cartelle"_s);
        QVERIFY(logins().isEmpty()); // pending until the row is left
        // The grid shows what the boxes hold; the password box keeps what was typed.
        QCOMPARE(users().model()->data(users().model()->index(0, 1)).toString(), u"mario"_s);
        QCOMPARE(f.child<QLineEdit>(u"txtPassword"_s)->text(), u"segreta"_s);

        f.click(u"cmdAdd"_s); // leaving the row saves it
        f.click(u"cmdAdd"_s); // one new account at a time
        QCOMPARE(logins(), QStringList{u"mario"_s});
        QCOMPARE(users().RecordCount(), 2);
        QCOMPARE(f.column(u"SELECT enabled || read || write || \"delete\" || browse || manage "
                          "FROM users"_s),
                 QStringList{u"110010"_s});
        QVERIFY(storedPasswordIs(u"mario"_s, u"segreta"_s));
        QCOMPARE(login(), QString()); // the new empty account is current

        rec().answer = true;
        f.click(u"cmdDelete"_s); // the new one, never stored: no question
        QCOMPARE(login(), u"mario"_s);
        QCOMPARE(users().RecordCount(), 1);
        f.click(u"cmdDelete"_s);
        QVERIFY(logins().isEmpty() && !users().hasCurrentRow());
        QCOMPARE(rec().asked, QStringList{u"Eliminare l'account \"mario\"?"_s});
        QVERIFY(rec().shown.isEmpty());
        QCOMPARE(status(), QString());
    }

    // A new account left without a login (another account chosen, the
    // window saving) is dropped, never stored as an empty row.
    void aNewAccountLeftWithoutLoginIsDropped() {
        f.build({u"INSERT INTO users (login) VALUES ('anna')"_s});
        f.click(u"cmdAdd"_s);
        f.child<QCheckBox>(u"chkWrite"_s)->click();
        commit();
        QCOMPARE(logins(), QStringList{u"anna"_s});
        QCOMPARE(users().RecordCount(), 1);
        QCOMPARE(login(), u"anna"_s);
    }

    // The question names the account and its folders; "No" keeps both.
    void deletingAsksFirst_data() {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("loginsAfter");
        QTest::addColumn<QStringList>("foldersAfter");
        QTest::newRow("no") << false << QStringList{"anna", "bruno"} << QStringList{"x", "y", "z"};
        QTest::newRow("yes") << true << QStringList{"bruno"} << QStringList{"z"};
    }
    void deletingAsksFirst() {
        QFETCH(bool, answer);
        QFETCH(QStringList, loginsAfter);
        f.build({u"INSERT INTO users (ID, login) VALUES (3, 'anna'), (4, 'bruno')"_s,
                 u"INSERT INTO virtualdirs (name, user) VALUES ('x', 3), ('y', 3), ('z', 4)"_s});
        rec().answer = answer;
        f.click(u"cmdDelete"_s);
        QCOMPARE(
            rec().asked,
            QStringList{u"Eliminare l'account \"anna\" e le sue 2 cartelle virtuali (x, y)?"_s});
        QCOMPARE(logins(), loginsAfter);
        QTEST(folders(), "foldersAfter");
        QCOMPARE(login(), loginsAfter.first());
        QCOMPARE(grid()->currentIndex().row(), users().currentRow());
    }

    // Every control of both blocks writes its own column of its own row: ticked
    // one after the other, the row's switches fill up from the left.
    void controlsReachTheirColumns() {
        f.build({u"INSERT INTO users (login, password, enabled, read, write, \"delete\", browse, "
                 "manage) VALUES ('anna', 'a', 0, 0, 0, 0, 0, 0)"_s,
                 u"UPDATE anonymous SET enabled=0, read=0, write=0, \"delete\"=0, browse=0, "
                 "manage=0"_s});
        const QString switches = u"SELECT enabled||read||write||\"delete\"||browse||manage FROM "_s;
        const QList<std::pair<QString, QStringList>> blocks = {
            {u"users"_s,
             {"chkAbilitato", "chkRead", "chkWrite", "chkDelete", "chkNavigazione",
              "chkScrittura"}},
            {u"anonymous"_s, {"chkAnonymous", "Check2", "Check3", "Check4", "Check6", "Check5"}}};
        for (const auto& [table, boxes] : blocks) {
            for (int i = 0; i < boxes.size(); ++i) {
                f.child<QCheckBox>(boxes[i])->click();
                commit();
                QCOMPARE(f.column(switches + table),
                         QStringList{QString(i + 1, u'1') + QString(boxes.size() - i - 1, u'0')});
            }
        }
        QTemporaryDir u, a;
        enter(u"txtLogin"_s, u"nuovo"_s);
        enter(u"txtUserRoot"_s, u.path());
        enter(u"txtUserRootAnon"_s, a.path());
        commit();
        QCOMPARE(f.column(u"SELECT login || '|' || rootdir FROM users"_s),
                 QStringList{"nuovo|" + u.path()});
        QCOMPARE(f.column(u"SELECT rootdir FROM anonymous"_s), QStringList{a.path()});
    }

    // The stored password never shows; a new one is stored as a yescrypt
    // hash; a box or grid cell left as it was keeps the stored value.
    void passwordsAreStoredHashedAndShownMasked_data() {
        QTest::addColumn<QString>("stored");
        QTest::newRow("clear text of an older file") << u"vecchia"_s;
        QTest::newRow("a hash") << kv::access::hashPassword(u"vecchia"_s).value_or(QString());
    }
    void passwordsAreStoredHashedAndShownMasked() {
        QFETCH(QString, stored);
        f.build({u"INSERT INTO users (login, password) VALUES ('anna', '%1'), ('bruno', '')"_s.arg(
            stored)});
        auto* box = f.child<QLineEdit>(u"txtPassword"_s);
        QCOMPARE(box->text(), u"********"_s);
        QCOMPARE(box->echoMode(), QLineEdit::Password);
        const QModelIndex cell = grid()->model()->index(0, 2);
        const auto* delegate =
            qobject_cast<QStyledItemDelegate*>(grid()->itemDelegateForIndex(cell));
        QVERIFY(delegate);
        QCOMPARE(delegate->displayText(cell.data(), QLocale()), u"********"_s);
        QCOMPARE(delegate->displayText(grid()->model()->index(1, 2).data(), QLocale()), QString());

        // Other edits, and entering and leaving the box, keep the stored value.
        enter(u"txtLogin"_s, u"anna2"_s);
        QFocusEvent in(QEvent::FocusIn), out(QEvent::FocusOut);
        QApplication::sendEvent(box, &in);
        QCOMPARE(box->text(), QString()); // typing starts a new password
        QApplication::sendEvent(box, &out);
        QCOMPARE(box->text(), u"********"_s);
        commit();
        const QString sql2 = u"SELECT password FROM users WHERE login='anna2'"_s;
        QCOMPARE(f.column(sql2), QStringList{stored});

        f.type(u"txtPassword"_s, u"Nuova-1"_s);
        QCOMPARE(box->text(), u"Nuova-1"_s); // what is typed stays while typing
        commit();
        QVERIFY(storedPasswordIs(u"anna2"_s, u"Nuova-1"_s));
        QCOMPARE(box->text(), u"********"_s);

        // A new password in the grid: the editor starts empty.
        f.panel->show();
        const auto gridPassword = [&](const QString& typed) {
            grid()->setCurrentIndex(cell);
            grid()->edit(cell);
            QPointer<QLineEdit> editor = grid()->findChild<QLineEdit*>(u"txtGridPassword"_s);
            QVERIFY(editor);
            QCOMPARE(editor->text(), QString());
            QCOMPARE(editor->echoMode(), QLineEdit::Password);
            QTest::keyClicks(editor, typed);
            QTest::keyClick(editor, Qt::Key_Return);
            QTRY_VERIFY(!editor); // committed and closed from the event loop
            commit();
        };
        const QString before = f.column(sql2).value(0);
        gridPassword(QString()); // left empty: kept
        QCOMPARE(f.column(sql2), QStringList{before});
        gridPassword(u"Dalla-griglia"_s);
        QVERIFY(storedPasswordIs(u"anna2"_s, u"Dalla-griglia"_s));
        QVERIFY(rec().shown.isEmpty());
    }

    // Typed into the grid, in other letters (the login box: aRefusedLoginKeepsTheTypedRow).
    void duplicateLoginIsRefusedWithOneMessage() {
        f.build({u"INSERT INTO users (login, password) VALUES ('anna', 'a'), ('bruno', 'b')"_s});
        users().MoveNext();
        users().model()->setData(users().model()->index(1, 1), u"ANNA"_s);
        f.type(u"txtPassword"_s, u"nuova"_s);

        f.click(u"cmdAdd"_s);
        QCOMPARE(rec().texts(), QStringList{u"Non è consentito duplicare i Login"_s});
        QCOMPARE(rec().shown.first().second, kv::MessageIcon::Exclamation);
        // Nothing was added; the typed login stays on its row to be corrected.
        QCOMPARE(logins(), (QStringList{u"anna"_s, u"bruno"_s}));
        QCOMPARE(users().currentRow(), 1);
        QCOMPARE(login(), u"ANNA"_s);
        QVERIFY(users().isDirty());
        enter(u"txtLogin"_s, u"anna2"_s);
        f.click(u"cmdAdd"_s);
        QCOMPARE(logins(), (QStringList{u"anna"_s, u"anna2"_s}));
        QVERIFY(storedPasswordIs(u"anna2"_s, u"nuova"_s));
        QCOMPARE(rec().shown.size(), 1);
    }

    // A login the file would refuse (another account's, in other letters) is
    // refused as it is typed: it stays in the box, marked, with the reason in
    // the status line and no message box, until corrected or undone (Esc);
    // choosing another account leaves it behind. Nothing refused is stored.
    void aRefusedLoginStaysMarkedUntilCorrectedOrUndone() {
        f.build({u"INSERT INTO users (login) VALUES ('mario')"_s});
        f.panel->show();
        QApplication::setActiveWindow(f.panel.get());
        QVERIFY(QTest::qWaitForWindowActive(f.panel.get()));
        QLineEdit* box = f.child<QLineEdit>(u"txtLogin"_s);
        f.click(u"cmdAdd"_s);
        QTRY_VERIFY(box->hasFocus()); // a new account starts with its login
        const QString duplicate = u"Non è consentito duplicare i Login"_s;
        enter(u"txtLogin"_s, u"Mario"_s);
        QCOMPARE(login(), u"Mario"_s);
        QCOMPARE(refusal(u"txtLogin"_s), duplicate);
        QCOMPARE(box->toolTip(), duplicate);
        QCOMPARE(status(), duplicate);
        QVERIFY(rec().shown.isEmpty());
        QCOMPARE(users().Field(u"login"_s), QString());
        QTest::keyClick(box, Qt::Key_Escape); // undone
        QCOMPARE(login(), QString());
        QVERIFY(refusal(u"txtLogin"_s).isEmpty());
        QCOMPARE(status(), u"Senza password: non può accedere"_s);

        enter(u"txtLogin"_s, u"Mario"_s);
        enter(u"txtLogin"_s, u"Mario2"_s); // corrected
        QVERIFY(refusal(u"txtLogin"_s).isEmpty());
        const QRect marioRow = grid()->visualRect(grid()->model()->index(0, 1));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, marioRow.center());
        QTRY_COMPARE(users().currentRow(), 0);
        QCOMPARE(logins(), (QStringList{u"mario"_s, u"Mario2"_s}));

        // An emptied login is refused; choosing another account leaves it.
        box->setFocus();
        enter(u"txtLogin"_s, QString());
        QCOMPARE(refusal(u"txtLogin"_s), u"Il login non può essere vuoto"_s);
        const QRect secondRow = grid()->visualRect(grid()->model()->index(1, 1));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, secondRow.center());
        QTRY_COMPARE(users().currentRow(), 1);
        QCOMPARE(login(), u"Mario2"_s);
        QVERIFY(refusal(u"txtLogin"_s).isEmpty());
        QCOMPARE(logins(), (QStringList{u"mario"_s, u"Mario2"_s}));

        // A login typed in the grid is judged the same way.
        const QModelIndex cell = grid()->model()->index(1, 1);
        grid()->setCurrentIndex(cell);
        grid()->edit(cell);
        QPointer<QLineEdit> editor = grid()->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, u"MARIO"_s);
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::qWait(50);
        QVERIFY(editor);
        QCOMPARE(kv::ui::refusalOf(editor), duplicate);
        QCOMPARE(status(), duplicate);
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!editor);
        QCOMPARE(status(), u"Senza password: non può accedere"_s);
        commit();
        QCOMPARE(logins(), (QStringList{u"mario"_s, u"Mario2"_s}));

        // Entering the grid saves the account.
        f.child<QLineEdit>(u"txtPassword"_s)->setFocus();
        f.type(u"txtPassword"_s, u"cambiata"_s);
        grid()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(storedPasswordIs(u"Mario2"_s, u"cambiata"_s));
    }

    // A root that does not exist stays in its box, marked, and is not stored.
    void aRefusedRootStaysInItsBox_data() {
        QTest::addColumn<QString>("box");
        QTest::newRow("account") << u"txtUserRoot"_s;
        QTest::newRow("anonymous") << u"txtUserRootAnon"_s;
    }
    void aRefusedRootStaysInItsBox() {
        QFETCH(QString, box);
        f.build({u"INSERT INTO users (login, rootdir) VALUES ('r', '/old')"_s,
                 u"UPDATE anonymous SET rootdir='/old'"_s});
        const QString stored = u"SELECT rootdir FROM users UNION ALL SELECT rootdir FROM "
                               "anonymous"_s;
        enter(box, u"/no/such/folder"_s);
        const QString missing = u"La cartella \"/no/such/folder\" non esiste"_s;
        QCOMPARE(f.child<QLineEdit>(box)->text(), u"/no/such/folder"_s);
        QCOMPARE(refusal(box), missing);
        if (box == u"txtUserRoot"_s)
            QCOMPARE(status(), missing);
        commit();
        QCOMPARE(f.column(stored), (QStringList{u"/old"_s, u"/old"_s}));
        QCOMPARE(f.child<QLineEdit>(box)->text(), u"/no/such/folder"_s);
        QTest::keyClick(f.child<QLineEdit>(box), Qt::Key_Escape);
        QCOMPARE(f.child<QLineEdit>(box)->text(), u"/old"_s);
        QVERIFY(refusal(box).isEmpty());
        QCOMPARE(status(), u"Disabilitato: non può accedere"_s);
        QVERIFY(rec().shown.isEmpty());
    }

    // The whole disk as a root is stored only after a yes (No is the default
    // answer); No keeps the old value in the box and in the file.
    void wholeDiskIsAskedFor_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("answer");
        QTest::newRow("account, no") << QString() << false;
        QTest::newRow("account, yes") << QString() << true;
        QTest::newRow("anonymous, no") << u"Anon"_s << false;
        QTest::newRow("anonymous, yes") << u"Anon"_s << true;
    }
    void wholeDiskIsAskedFor() {
        QFETCH(QString, suffix);
        QFETCH(bool, answer);
        QTemporaryDir old;
        f.build({u"INSERT INTO users (login, rootdir) VALUES ('r', '%1')"_s.arg(old.path()),
                 u"UPDATE anonymous SET rootdir='%1'"_s.arg(old.path())});
        rec().answer = answer;
        f.host->pickerAnswer = u"/"_s;
        f.click("cmdUserBrowse" + suffix);
        QCOMPARE(rec().asked,
                 QStringList{u"Per %1 sarebbe condiviso tutto il disco (/), compresi i file "
                             u"personali e quelli di sistema.\n\nCondividere davvero tutto il "
                             u"disco?"_s.arg(suffix.isEmpty() ? u"l'account r"_s
                                                              : u"l'account anonimo"_s)});
        QCOMPARE(f.child<QLineEdit>("txtUserRoot" + suffix)->text(), answer ? u"/"_s : old.path());
        commit();
        QCOMPARE(f.column(suffix.isEmpty() ? u"SELECT rootdir FROM users"_s
                                           : u"SELECT rootdir FROM anonymous"_s),
                 QStringList{answer ? u"/"_s : old.path()});
        QVERIFY(rec().shown.isEmpty());
    }

    // As in every checked box, an accepted login or root is kept in the row
    // as it is typed (a commit before the box is left, e.g. for a reload,
    // finds it); a refused text puts back what the row held and is called
    // wrong once the box is left, not when another window takes the focus.
    void typedValuesAreKeptAsTheyAreTyped() {
        f.build({u"INSERT INTO users (login) VALUES ('mario')"_s});
        QTemporaryDir root;
        f.type(u"txtLogin"_s, u"luigi"_s);
        f.type(u"txtUserRoot"_s, root.path());
        QCOMPARE(users().Field(u"login"_s), u"luigi"_s);
        QCOMPARE(users().Field(u"rootdir"_s), root.path());
        QCOMPARE(grid()->model()->index(0, 1).data().toString(), u"luigi"_s);
        f.type(u"txtLogin"_s, u"luigi rossi"_s);
        QCOMPARE(users().Field(u"login"_s), u"mario"_s);
        kv::testing::leaveBox(f.child<QLineEdit>(u"txtLogin"_s), Qt::ActiveWindowFocusReason);
        QVERIFY(refusal(u"txtLogin"_s).isEmpty());
        kv::testing::leaveBox(f.child<QLineEdit>(u"txtLogin"_s));
        const QString blanks = u"Il login non può contenere spazi o caratteri di controllo"_s;
        QCOMPARE(refusal(u"txtLogin"_s), blanks);
        QCOMPARE(status(), blanks);
        commit();
        QCOMPARE(f.column(u"SELECT login || '|' || rootdir FROM users"_s),
                 QStringList{u"mario|"_s + root.path()});
    }

    // A rename in the panel takes the account's action rules along.
    void renamingCarriesTheRules() {
        f.build({u"INSERT INTO users (login) VALUES ('scanner')"_s,
                 u"INSERT INTO actions (event, user, kind, target) VALUES ('upload', 'SCANNER', "
                 "'run', '/bin/true')"_s});
        enter(u"txtLogin"_s, u"archivio"_s);
        commit();
        QCOMPARE(f.column(u"SELECT user FROM actions"_s), QStringList{u"archivio"_s});
    }

    // An account numbered 0 (made by another program) is not the anonymous
    // account; a delete the database refuses keeps the account's folders.
    void deletingAccountZeroAndARefusedDelete() {
        kv::ui::AccountPanel& panel = f.build(
            {u"INSERT INTO users (ID, login) VALUES (0, 'zero'), (4, 'quattro')"_s,
             u"INSERT INTO virtualdirs (name, user) VALUES ('c', 0), ('mia', 4)"_s,
             QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON users WHEN old.ID = 4 BEGIN "
                            "SELECT RAISE(ABORT, 'no'); END")});
        rec().answer = true;
        f.click(u"cmdDelete"_s);
        QCOMPARE(logins(), QStringList{"quattro"});
        QCOMPARE(folders(), (QStringList{"c", "mia"}));
        QVERIFY(rec().shown.isEmpty());
        f.click(u"cmdDelete"_s);
        QCOMPARE(logins(), QStringList{"quattro"});
        QCOMPARE(folders(), (QStringList{"c", "mia"}));
        QCOMPARE(rec().shown.size(), 2); // the error number, then the database's text
        QCOMPARE(rec().shown.first().second, kv::MessageIcon::None);
        QCOMPARE(users().Field(u"login"_s), u"quattro"_s);
        // The numbers other database programs give a duplicate login.
        for (int duplicate : {3426, 16389, 524})
            QCOMPARE(panel.logic().ErroreDB(duplicate), 0);
        QCOMPARE(rec().texts().count(u"Non è consentito duplicare i Login"_s), 3);
    }

    void groupsFollowTheCurrentAccount() {
        f.build();
        const auto enabled = [this](int index) {
            return f.element<QWidget>(u"picDetails"_s, index)->isEnabled();
        };
        for (int i : {0, 1, 2, 3, 7, 9})
            QVERIFY(!enabled(i));
        QVERIFY(!f.child<QWidget>(u"picLimits"_s)->isEnabled());
        QVERIFY(f.child<QWidget>(u"picLimitsAnon"_s)->isEnabled());
        for (int i : {4, 5, 6, 8})
            QVERIFY(enabled(i));
        auto* on = f.child<QCheckBox>(u"chkAbilitato"_s);
        on->click(); // no account to switch on: the box stays clear
        QVERIFY(!on->isChecked() && logins().isEmpty());
        f.click(u"cmdAdd"_s);
        for (int i = 0; i <= 9; ++i)
            QVERIFY(enabled(i));
        rec().answer = true;
        f.click(u"cmdDelete"_s);
        QVERIFY(!enabled(0) && !enabled(7) && !enabled(9));
        f.built->logic().cmdUserVirtual([](int) { QFAIL("an editor without an account"); });
        QCOMPARE(rec().texts(), QStringList{u"Nessun account selezionato"_s});
    }

    // The key list shows the current account's keys; the buttons add from the
    // picked .pub file and remove the selected key after a yes.
    void keysOfTheCurrentAccount() {
        QTemporaryDir dir;
        QFile pub(dir.filePath(u"id_ed25519.pub"_s));
        QVERIFY(pub.open(QIODevice::WriteOnly));
        pub.write(kv::testing::kEd25519Line);
        pub.close();
        f.build({u"INSERT INTO users (login) VALUES ('anna')"_s,
                 u"INSERT INTO users (login) VALUES ('bruno')"_s});
        auto* list = f.child<QTableWidget>(u"lstKeys"_s);
        QCOMPARE(list->rowCount(), 0);
        f.host->pickerAnswer = pub.fileName();
        f.click(u"cmdAddKey"_s);
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->item(0, 0)->text(), QString::fromLatin1(kv::testing::kEd25519Fingerprint));
        QCOMPARE(list->item(0, 1)->text(), u"user@host ed25519"_s);
        QCOMPARE(f.column(u"SELECT login FROM account_keys"_s), QStringList{u"anna"_s});
        // Another account: its own (no) keys; back: anna's again.
        users().MoveNext();
        QCOMPARE(list->rowCount(), 0);
        users().MovePrevious();
        QCOMPARE(list->rowCount(), 1);
        f.host->pickerAnswer.clear(); // cancelled: nothing happens
        f.click(u"cmdAddKey"_s);
        QVERIFY(rec().shown.isEmpty());
        list->selectRow(0);
        rec().answer = true;
        f.click(u"cmdRemoveKey"_s);
        QCOMPARE(list->rowCount(), 0);
        QVERIFY(f.column(u"SELECT login FROM account_keys"_s).isEmpty());
    }

    // "Limiti": each speed with its Mbit/s beside it, written when its box is
    // left; the quota in the unit chosen; the expiry date from the calendar
    // or "mai"; a refusal in the declaration's words; each account its own,
    // and the anonymous account too.
    void limitsOfTheCurrentAccount() {
        f.build({u"INSERT INTO users (login) VALUES ('anna')"_s,
                 u"INSERT INTO users (login) VALUES ('bruno')"_s});
        const auto stored = [this](const QString& column, const QString& login) {
            return f.column(
                u"SELECT %1 FROM account_limits WHERE account = "
                u"ifnull((SELECT ID FROM users WHERE login = '%2'), 0)"_s.arg(column, login));
        };
        QVERIFY(f.child<QWidget>(u"picLimits"_s)->isEnabled());
        QCOMPARE(f.child<QLineEdit>(u"txt_rate_down_kib"_s)->text(), u"0"_s);
        QCOMPARE(f.child<QLabel>(u"lblMbit_rate_down_kib"_s)->text(), u"nessun limite"_s);
        f.type(u"txt_rate_down_kib"_s, u"10240"_s);
        QCOMPARE(f.child<QLabel>(u"lblMbit_rate_down_kib"_s)->text(), u"≈ 83,9 Mbit/s"_s);
        QVERIFY(stored(u"rate_down_kib"_s, u"anna"_s).isEmpty()); // not before it is left
        enter(u"txt_rate_down_kib"_s, u"10240"_s);
        QCOMPARE(stored(u"rate_down_kib"_s, u"anna"_s), QStringList{u"10240"_s});
        QCOMPARE(f.host->accountsFileWrites, 1); // the window has the server reread
        enter(u"txt_session_rate_up_kib"_s, u"8 Mbit/s"_s);
        QCOMPARE(f.child<QLineEdit>(u"txt_session_rate_up_kib"_s)->text(), u"977"_s);
        QCOMPARE(stored(u"session_rate_up_kib"_s, u"anna"_s), QStringList{u"977"_s});

        enter(u"txt_quota_files"_s, u"-1"_s);
        QCOMPARE(f.child<QLabel>(u"lblLimitsRefusal"_s)->text(),
                 u"Quota di file: \"-1\" non può essere negativo"_s);
        QCOMPARE(refusal(u"txt_quota_files"_s), f.child<QLabel>(u"lblLimitsRefusal"_s)->text());
        QCOMPARE(stored(u"quota_files"_s, u"anna"_s), QStringList{u"0"_s});
        QTest::keyClick(f.child<QLineEdit>(u"txt_quota_files"_s), Qt::Key_Escape);
        QCOMPARE(f.child<QLabel>(u"lblLimitsRefusal"_s)->text(), QString());

        auto* unit = f.child<QComboBox>(u"cboQuotaUnit"_s);
        unit->setCurrentIndex(int(kv::admin::SizeUnit::GiB));
        enter(u"txt_quota_bytes"_s, u"1,5"_s);
        QCOMPARE(stored(u"quota_bytes"_s, u"anna"_s), QStringList{u"1610612736"_s});
        unit->setCurrentIndex(int(kv::admin::SizeUnit::MiB)); // shown again, nothing written
        QCOMPARE(f.child<QLineEdit>(u"txt_quota_bytes"_s)->text(), u"1536"_s);
        QCOMPARE(stored(u"quota_bytes"_s, u"anna"_s), QStringList{u"1610612736"_s});

        auto* expires = f.child<QDateEdit>(u"dtExpires"_s);
        QVERIFY(expires->calendarPopup());
        QCOMPARE(expires->text(), u"mai"_s);
        QCOMPARE(f.child<QLabel>(u"lblExpiryState"_s)->text(), u"Non scade mai"_s);
        const QDate last = QDate::currentDate().addDays(30);
        Q_EMIT expires->calendarWidget()->clicked(last);
        QCOMPARE(stored(u"expires"_s, u"anna"_s), QStringList{last.toString(Qt::ISODate)});
        QVERIFY(f.child<QLabel>(u"lblExpiryState"_s)->text().startsWith(u"Valido fino al"_s));
        const int writes = f.host->accountsFileWrites;
        f.click(u"cmdExpiresNever"_s);
        QCOMPARE(stored(u"expires"_s, u"anna"_s), QStringList{QString()});
        QCOMPARE(f.host->accountsFileWrites, writes + 1);
        QCOMPARE(expires->text(), u"mai"_s);

        // Another account shows its own; back, anna's again.
        users().MoveNext();
        QCOMPARE(f.child<QLineEdit>(u"txt_rate_down_kib"_s)->text(), u"0"_s);
        QCOMPARE(f.child<QLineEdit>(u"txt_quota_bytes"_s)->text(), u"0"_s);
        users().MovePrevious();
        QCOMPARE(f.child<QLineEdit>(u"txt_rate_down_kib"_s)->text(), u"10240"_s);
        QCOMPARE(unit->currentText(), u"MiB"_s);
        QCOMPARE(f.child<QLineEdit>(u"txt_quota_bytes"_s)->text(), u"1536"_s);
        QVERIFY(stored(u"rate_down_kib"_s, u"bruno"_s).isEmpty());

        // The anonymous account's group is its own.
        enter(u"txt_rate_down_kibAnon"_s, u"512"_s);
        QCOMPARE(stored(u"rate_down_kib"_s, u"anonymous"_s), QStringList{u"512"_s});
        QCOMPARE(f.child<QLabel>(u"lblMbit_rate_down_kibAnon"_s)->text(), u"≈ 4,2 Mbit/s"_s);
        QCOMPARE(stored(u"rate_down_kib"_s, u"anna"_s), QStringList{u"10240"_s});

        // The space used comes from the hook the panel is given.
        f.built->setQuotaSources(
            [](qint32) {
                return kv::admin::QuotaUsage{qint64(512) << 20, 7};
            },
            [](qint32) { return QStringList{u"bruno"_s}; });
        QCOMPARE(f.child<QLabel>(u"lblQuotaUsage"_s)->text(),
                 u"Spazio usato: 512,0 MiB di 1536 MiB (33%), 7 file"_s);
        QVERIFY(f.child<QLabel>(u"lblQuotaOverlap"_s)
                    ->text()
                    .startsWith(u"Cartelle in comune con: bruno"_s));
        QVERIFY(rec().shown.isEmpty());
    }

    // The grid shows login and password only; the cover hides its empty rows
    // (pixels inside the grid's group).
    void coverLiesOverTheEmptyRows_data() {
        QTest::addColumn<int>("accounts");
        QTest::addColumn<int>("top"); // 0: no cover
        QTest::newRow("none") << 0 << 21;
        QTest::newRow("nine") << 9 << 201;
        QTest::newRow("ten") << 10 << 0;
    }
    void coverLiesOverTheEmptyRows() {
        QFETCH(int, accounts);
        QFETCH(int, top);
        QStringList rows;
        for (int i = 0; i < accounts; ++i)
            rows.append(u"INSERT INTO users (login) VALUES ('u%1')"_s.arg(i));
        f.build(rows);
        auto* cover = f.child<QWidget>(u"picOnGrid1"_s);
        QCOMPARE(grid()->geometry(), QRect(0, 20, 380, 201));
        QVERIFY(!grid()->isColumnHidden(1) && !grid()->isColumnHidden(2));
        QVERIFY(grid()->isColumnHidden(0) && grid()->isColumnHidden(3));
        QCOMPARE(!cover->isHidden(), top > 0);
        if (top > 0)
            QCOMPARE(cover->geometry(), QRect(0, top, 380, 220 - top));
    }

    void editorIsAModalWindowOverTheOwnersFolders_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("account") << u"cmdUserVirtual"_s << QStringList{u"mine"_s};
        QTest::newRow("anonymous") << u"cmdVirtualAnonymous"_s << QStringList{u"public"_s};
    }
    void editorIsAModalWindowOverTheOwnersFolders() {
        QFETCH(QString, button);
        f.build({u"INSERT INTO users (ID, login) VALUES (3, 'tre')"_s,
                 u"INSERT INTO virtualdirs (name, user) VALUES ('mine', 3), ('public', 0)"_s});
        f.panel->show();
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            auto* list = dialog->findChild<QTableView*>(u"DBGrid1"_s);
            for (int row = 0; list && row < list->model()->rowCount(); ++row)
                seen.append(list->model()->index(row, 0).data().toString());
            dialog->reject();
        });
        QTimer::singleShot(5000, this, [] {
            if (auto* modal = QApplication::activeModalWidget())
                modal->close();
        });
        f.click(button);
        QTEST(seen, "names");
    }

    void rootPickersAndDefaultButtons_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("account") << u"users"_s << u"Seleziona la root per l'utente:"_s;
        QTest::newRow("anonymous")
            << u"anonymous"_s << u"Seleziona la root per l'utente anonimo:"_s;
    }
    void rootPickersAndDefaultButtons() {
        QFETCH(QString, table);
        QFETCH(QString, prompt);
        // The anonymous section's controls carry the same names ending in "Anon".
        const QString suffix = table == u"anonymous"_s ? u"Anon"_s : QString();
        const QString browse = "cmdUserBrowse" + suffix, reset = "cmdDefaultRoot" + suffix;
        f.build({u"INSERT INTO users (login, rootdir) VALUES ('r', '/old')"_s,
                 u"UPDATE anonymous SET rootdir='/old'"_s});
        auto* edit = f.child<QLineEdit>("txtUserRoot" + suffix);
        auto* marker = f.child<QLabel>("picDefault" + suffix);
        kv::access::DataView& view = suffix.isEmpty() ? users() : f.host->core().views().Data3();
        QCOMPARE(edit->text(), u"/old"_s);
        QVERIFY(marker->isHidden());

        f.click(browse); // cancelled: nothing changes
        QCOMPARE(edit->text(), u"/old"_s);
        QTemporaryDir chosen;
        f.host->pickerAnswer = chosen.path();
        f.click(browse);
        QCOMPARE(view.Field(u"rootdir"_s), chosen.path());
        QCOMPARE(f.host->pickerCalls.size(), 2);
        QCOMPARE(f.host->pickerCalls[0].prompt, prompt);
        QCOMPARE(f.host->pickerCalls[1].defaultRoot, u"/old"_s);

        f.click(reset);
        QVERIFY(!marker->isHidden());
        QTest::keyClicks(edit, u"x"_s);
        QVERIFY(marker->isHidden());
        f.click(reset);
        commit();
        // An empty root is stored as an empty text, never a placeholder.
        QCOMPARE(f.column("SELECT rootdir FROM " + table), QStringList{QString()});
    }
};

QTEST_MAIN(TestAccountPanel)
#include "test_accountpanel.moc"
