// frmVirtualDir: the owner's folders in a read-only grid, edit boxes written
// to accounts.dat at each change, the full virtual position and both pickers.

#include "admin/ui/VirtualDirDialog.h"
#include "tests/support/PanelTestHost.h"

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

    void open(int owner, const QStringList& more = {}) {
        host = std::make_unique<PanelTestHost>();
        host->exec({u"INSERT INTO virtualdirs VALUES ('foto', '/docs', '/real/foto', 4), ('pub', "
                    "'/', '/real/pub', 0), ('musica', 'C:\\dati', '/real/m', 4)"_s});
        host->exec(more);
        dialog = std::make_unique<kv::ui::VirtualDirDialog>(host->core().database().connection(),
                                                            owner, *host);
    }
    QLineEdit* box(const QString& name) { return dialog->findChild<QLineEdit*>(name); }
    QTableView* grid() { return dialog->findChild<QTableView*>(u"DBGrid1"_s); }
    void click(const QString& name) { dialog->findChild<QPushButton*>(name)->click(); }
    QStringList stored() {
        return host->column(QStringLiteral("SELECT name||'|'||source||'|'||destination||'|'||user "
                                           "FROM virtualdirs ORDER BY rowid"));
    }

private Q_SLOTS:
    void cleanup() {
        dialog.reset();
        host.reset();
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

        // Every change is written at once.
        grid()->setCurrentIndex(grid()->model()->index(0, 1));
        QLineEdit* name = box(u"txtName"_s);
        name->selectAll();
        QTest::keyClicks(name, u"immagini"_s);
        QCOMPARE(stored().first(), u"immagini|/docs|/real/foto|4"_s);
        QCOMPARE(box(u"txtCompletePath"_s)->text(), u"/docs/immagini"_s);
        QCOMPARE(grid()->model()->index(0, 0).data().toString(), u"immagini"_s);

        box(u"txtVirtualPath"_s)->setText(u"   "_s);
        QCOMPARE(box(u"txtCompletePath"_s)->text(), u"immagini"_s);
        box(u"txtRealPath"_s)->setText(u"/altro"_s);
        QCOMPARE(stored().first(), u"immagini|   |/altro|4"_s);
        QCOMPARE(stored()[1], u"pub|/|/real/pub|0"_s);
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
        QCOMPARE(grid()->model()->rowCount(), before + 1);
        QCOMPARE(grid()->currentIndex().row(), before);
        QCOMPARE(box(u"txtName"_s)->text(), QString());
        QTest::keyClicks(box(u"txtName"_s), u"nuova"_s);
        QCOMPARE(stored().last(), u"nuova|||%1"_s.arg(owner));

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
        host->pickerAnswer = u"/scelta"_s;
        click(button);
        QCOMPARE(box(target)->text(), u"/scelta"_s);
        QVERIFY(stored().first().contains(u"|/scelta|"_s));
    }
};

QTEST_MAIN(TestVirtualDirDialog)
#include "test_virtualdirdialog.moc"
