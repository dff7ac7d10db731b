// frmVirtualDir: the owner's folders in a read-only grid, edit boxes judged
// and written to accounts.dat on Return or when left, a refused value kept in
// its box with the reason, the full virtual position and both pickers.

#include "panels/ui/RefusalMark.h"
#include "panels/ui/VirtualDirDialog.h"
#include "tests/support/PanelTestHost.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace Qt::StringLiterals;

using kv::testing::PanelTestHost;

class TestVirtualDirDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelTestHost> host;
    std::unique_ptr<kv::ui::VirtualDirDialog> dialog;
    std::unique_ptr<QTemporaryDir> root; // the default root, holding "docs" and "altro"

    void open(int owner, const QStringList& more = {}) {
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(root->path()).mkpath(u"docs"_s) && QDir(root->path()).mkpath(u"altro"_s));
        host = std::make_unique<PanelTestHost>();
        host->exec({u"UPDATE settings SET rootdir = '%1'"_s.arg(root->path()),
                    u"INSERT INTO virtualdirs VALUES ('foto', '/docs', '/real/foto', 4), ('pub', "
                    "'/', '/real/pub', 0), ('musica', 'C:\\dati', '/real/m', 4)"_s});
        host->exec(more);
        dialog = std::make_unique<kv::ui::VirtualDirDialog>(host->core().database().connection(),
                                                            owner, *host);
    }
    QLineEdit* box(const QString& name) { return dialog->findChild<QLineEdit*>(name); }
    QTableView* grid() { return dialog->findChild<QTableView*>(u"DBGrid1"_s); }
    void click(const QString& name) { dialog->findChild<QPushButton*>(name)->click(); }
    // Typed over what the box holds, then Return.
    void type(const QString& name, const QString& text) {
        box(name)->selectAll();
        QTest::keyClicks(box(name), text);
        QTest::keyClick(box(name), Qt::Key_Return);
    }
    QString problem() { return dialog->findChild<QLabel*>(u"lblProblem"_s)->text(); }
    QStringList stored() {
        return host->column(QStringLiteral("SELECT name||'|'||source||'|'||destination||'|'||user "
                                           "FROM virtualdirs ORDER BY rowid"));
    }

private Q_SLOTS:
    void cleanup() {
        dialog.reset();
        host.reset();
        root.reset();
    }

    void showsTheOwnersFolders() {
        open(4);
        QCOMPARE(dialog->windowTitle(), u"Cartelle virtuali"_s);
        QCOMPARE(grid()->model()->rowCount(), 2);
        QCOMPARE(grid()->model()->headerData(0, Qt::Horizontal).toString(), u"Nome"_s);
        QCOMPARE(grid()->model()->headerData(2, Qt::Horizontal).toString(), u"Percorso reale"_s);
        QVERIFY(grid()->editTriggers() == QAbstractItemView::NoEditTriggers);
        QCOMPARE(box(u"txtName"_s)->text(), u"foto"_s);
        QCOMPARE(box(u"txtCompletePath"_s)->text(), u"/docs/foto"_s);
        QVERIFY(box(u"txtCompletePath"_s)->isReadOnly());

        const QStringList before = stored();
        grid()->setCurrentIndex(grid()->model()->index(1, 1)); // a click on the second row
        QCOMPARE(box(u"txtVirtualPath"_s)->text(), u"C:\\dati"_s);
        QCOMPARE(box(u"txtCompletePath"_s)->text(), u"C:\\dati/musica"_s);
        QCOMPARE(stored(), before); // showing a row writes nothing new

        // A change is written on Return; the full position follows the typing.
        grid()->setCurrentIndex(grid()->model()->index(0, 1));
        QLineEdit* name = box(u"txtName"_s);
        name->selectAll();
        QTest::keyClicks(name, u"immagini"_s);
        QCOMPARE(box(u"txtCompletePath"_s)->text(), u"/docs/immagini"_s);
        QCOMPARE(stored().first(), u"foto|/docs|/real/foto|4"_s);
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(stored().first(), u"immagini|/docs|/real/foto|4"_s);
        QCOMPARE(grid()->model()->index(0, 0).data().toString(), u"immagini"_s);

        type(u"txtVirtualPath"_s, u"   "_s);
        QCOMPARE(box(u"txtCompletePath"_s)->text(), u"immagini"_s);
        const QString other = root->filePath(u"altro"_s);
        type(u"txtRealPath"_s, other);
        QCOMPARE(stored().first(), u"immagini|   |%1|4"_s.arg(other));
        QCOMPARE(stored()[1], u"pub|/|/real/pub|0"_s);
        QVERIFY(problem().isEmpty());
    }

    // A refused value stays in its box, marked, with the reason under the
    // boxes; Esc brings the stored value back; nothing refused is written.
    void aRefusedValueStaysToBeCorrected() {
        open(4);
        const QStringList before = stored();
        type(u"txtVirtualPath"_s, u"/"_s);
        const QString outside =
            u"La cartella \"/\" non è dentro la cartella principale \"%1\""_s.arg(root->path());
        QCOMPARE(box(u"txtVirtualPath"_s)->text(), u"/"_s);
        QCOMPARE(kv::ui::refusalOf(box(u"txtVirtualPath"_s)), outside);
        QCOMPARE(box(u"txtVirtualPath"_s)->toolTip(), outside);
        QCOMPARE(problem(), outside);
        type(u"txtRealPath"_s, u"/no/such/folder"_s);
        QCOMPARE(problem(), outside); // the first marked box speaks
        QCOMPARE(stored(), before);

        QTest::keyClick(box(u"txtVirtualPath"_s), Qt::Key_Escape);
        QCOMPARE(box(u"txtVirtualPath"_s)->text(), u"/docs"_s);
        QVERIFY(kv::ui::refusalOf(box(u"txtVirtualPath"_s)).isEmpty());
        QCOMPARE(problem(), u"La cartella \"/no/such/folder\" non esiste"_s);
        type(u"txtRealPath"_s, root->filePath(u"docs"_s)); // corrected
        QVERIFY(problem().isEmpty());
        QCOMPARE(stored().first(), u"foto|/docs|%1|4"_s.arg(root->filePath(u"docs"_s)));
        // Another row shows its own values, unmarked.
        type(u"txtName"_s, u"a/b"_s);
        QVERIFY(!problem().isEmpty());
        grid()->setCurrentIndex(grid()->model()->index(1, 1));
        QCOMPARE(box(u"txtName"_s)->text(), u"musica"_s);
        QVERIFY(problem().isEmpty());
    }

    void newAndDelete_data() {
        QTest::addColumn<int>("owner");
        QTest::newRow("account") << 4;
        QTest::newRow("anonymous") << 0;
        QTest::newRow("account without folders") << 9;
    }
    void newAndDelete() {
        QFETCH(int, owner);
        open(owner);
        const int before = grid()->model()->rowCount();
        click(u"cmdNuova"_s);
        click(u"cmdNuova"_s); // one new row at a time
        QCOMPARE(grid()->model()->rowCount(), before + 1);
        QCOMPARE(grid()->currentIndex().row(), before);
        QCOMPARE(box(u"txtName"_s)->text(), QString());
        type(u"txtName"_s, u"nuova"_s);
        QCOMPARE(stored().size(), 3); // not yet: it has no real folder
        type(u"txtRealPath"_s, root->path());
        QCOMPARE(stored().last(), u"nuova||%1|%2"_s.arg(root->path()).arg(owner));

        click(u"cmdElimina"_s); // the last row: the one before it follows
        QCOMPARE(stored().size(), 3);
        QCOMPARE(grid()->model()->rowCount(), before);
        QCOMPARE(grid()->currentIndex().row(), before - 1);
        while (grid()->model()->rowCount() > 0)
            click(u"cmdElimina"_s);
        QVERIFY(!box(u"txtName"_s)->isEnabled());
        QCOMPARE(stored().size(), 3 - before);
    }

    void anUnreadableListIsReported() {
        open(4, {u"ALTER TABLE virtualdirs RENAME TO gone"_s});
        QCOMPARE(host->recorder.shown.size(), 1);
        QVERIFY(host->recorder.texts().first().contains(u"virtualdirs"_s));
        QVERIFY(grid()->model()->rowCount() == 0 && !box(u"txtName"_s)->isEnabled());
    }

    void pickersStartAtThePositionBox_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("target");
        QTest::newRow("position") << u"cmdBrowseVirtual"_s << u"txtVirtualPath"_s;
        QTest::newRow("real folder") << u"cmdBrowserReal"_s << u"txtRealPath"_s;
    }
    void pickersStartAtThePositionBox() {
        QFETCH(QString, button);
        QFETCH(QString, target);
        open(4);
        const QString before = box(target)->text();
        host->pickerAnswer = QString();
        click(button);
        QCOMPARE(box(target)->text(), before);
        QCOMPARE(host->pickerCalls.last().prompt, u"Posizione virtuale:"_s);
        QCOMPARE(host->pickerCalls.last().defaultRoot, u"/docs"_s);
        const QString chosen = root->filePath(u"altro"_s);
        host->pickerAnswer = chosen;
        click(button);
        QCOMPARE(box(target)->text(), chosen);
        QVERIFY(stored().first().contains(u"|%1|"_s.arg(chosen)));
    }
};

QTEST_MAIN(TestVirtualDirDialog)
#include "test_virtualdirdialog.moc"
