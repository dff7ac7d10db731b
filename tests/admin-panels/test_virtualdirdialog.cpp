// frmVirtualDir: the owner's folders in a read-only grid, edit boxes written
// to accounts.dat at each change, the full virtual position and both pickers.

#include "PanelTestHost.h"
#include "admin/ui/VirtualDirDialog.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using kv::testing::PanelTestHost;

class TestVirtualDirDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelTestHost> host;
    std::unique_ptr<kv::ui::VirtualDirDialog> dialog;

    void open(int owner) {
        host = std::make_unique<PanelTestHost>();
        host->exec(
            {QStringLiteral("INSERT INTO virtualdirs VALUES ('foto', '/docs', '/real/foto', 4)"),
             QStringLiteral("INSERT INTO virtualdirs VALUES ('pub', '/', '/real/pub', 0)"),
             QStringLiteral(
                 "INSERT INTO virtualdirs VALUES ('musica', 'C:\\dati', '/real/m', 4)")});
        dialog = std::make_unique<kv::ui::VirtualDirDialog>(host->core().database().connection(),
                                                            owner, *host);
    }
    QLineEdit* box(const QString& name) { return dialog->findChild<QLineEdit*>(name); }
    QTableView* grid() { return dialog->findChild<QTableView*>(QStringLiteral("DBGrid1")); }
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
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Cartelle virtuali"));
        QCOMPARE(grid()->model()->rowCount(), 2);
        QCOMPARE(grid()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Nome"));
        QCOMPARE(grid()->model()->headerData(2, Qt::Horizontal).toString(),
                 QStringLiteral("Percorso reale"));
        QVERIFY(grid()->editTriggers() == QAbstractItemView::NoEditTriggers);
        QCOMPARE(box(QStringLiteral("txtName"))->text(), QStringLiteral("foto"));
        QCOMPARE(box(QStringLiteral("txtCompletePath"))->text(), QStringLiteral("/docs/foto"));
        QVERIFY(box(QStringLiteral("txtCompletePath"))->isReadOnly());

        const QStringList before = stored();
        grid()->setCurrentIndex(grid()->model()->index(1, 1)); // a click on the second row
        QCOMPARE(box(QStringLiteral("txtVirtualPath"))->text(), QStringLiteral("C:\\dati"));
        QCOMPARE(box(QStringLiteral("txtCompletePath"))->text(), QStringLiteral("C:\\dati/musica"));
        QCOMPARE(stored(), before); // showing a row writes nothing new
    }

    void everyChangeIsWrittenAtOnce() {
        open(4);
        QLineEdit* name = box(QStringLiteral("txtName"));
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("immagini"));
        QCOMPARE(stored().first(), QStringLiteral("immagini|/docs|/real/foto|4"));
        QCOMPARE(box(QStringLiteral("txtCompletePath"))->text(), QStringLiteral("/docs/immagini"));
        QCOMPARE(grid()->model()->index(0, 0).data().toString(), QStringLiteral("immagini"));

        box(QStringLiteral("txtVirtualPath"))->setText(QStringLiteral("   "));
        QCOMPARE(box(QStringLiteral("txtCompletePath"))->text(), QStringLiteral("immagini"));
        box(QStringLiteral("txtRealPath"))->setText(QStringLiteral("/altro"));
        QCOMPARE(stored().first(), QStringLiteral("immagini|   |/altro|4"));
        QCOMPARE(stored()[1], QStringLiteral("pub|/|/real/pub|0"));
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
        click(QStringLiteral("cmdNuova"));
        QCOMPARE(grid()->model()->rowCount(), before + 1);
        QCOMPARE(grid()->currentIndex().row(), before);
        QCOMPARE(box(QStringLiteral("txtName"))->text(), QString());
        QTest::keyClicks(box(QStringLiteral("txtName")), QStringLiteral("nuova"));
        QCOMPARE(stored().last(), QStringLiteral("nuova|||%1").arg(owner));

        click(QStringLiteral("cmdElimina")); // the last row: the one before it follows
        QCOMPARE(stored().size(), 3);
        QCOMPARE(grid()->model()->rowCount(), before);
        QCOMPARE(grid()->currentIndex().row(), before - 1);
        while (grid()->model()->rowCount() > 0)
            click(QStringLiteral("cmdElimina"));
        QVERIFY(!box(QStringLiteral("txtName"))->isEnabled());
        QCOMPARE(stored().size(), 3 - before);
    }

    void anUnreadableListIsReported() {
        open(4);
        dialog.reset();
        host->exec({QStringLiteral("ALTER TABLE virtualdirs RENAME TO gone")});
        dialog = std::make_unique<kv::ui::VirtualDirDialog>(host->core().database().connection(), 4,
                                                            *host);
        QCOMPARE(host->recorder.shown.size(), 1);
        QVERIFY(host->recorder.texts().first().contains(QStringLiteral("virtualdirs")));
        QCOMPARE(grid()->model()->rowCount(), 0);
        QVERIFY(!box(QStringLiteral("txtName"))->isEnabled());
    }

    void pickersStartAtThePositionBox_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("target");
        QTest::newRow("position") << QStringLiteral("cmdBrowseVirtual")
                                  << QStringLiteral("txtVirtualPath");
        QTest::newRow("real folder")
            << QStringLiteral("cmdBrowserReal") << QStringLiteral("txtRealPath");
    }
    void pickersStartAtThePositionBox() {
        QFETCH(QString, button);
        QFETCH(QString, target);
        open(4);
        const QString before = box(target)->text();
        host->pickerAnswer = QString();
        click(button);
        QCOMPARE(box(target)->text(), before);
        QCOMPARE(host->pickerCalls.last().prompt, QStringLiteral("Posizione virtuale:"));
        QCOMPARE(host->pickerCalls.last().defaultRoot, QStringLiteral("/docs"));
        host->pickerAnswer = QStringLiteral("/scelta");
        click(button);
        QCOMPARE(box(target)->text(), QStringLiteral("/scelta"));
        QVERIFY(stored().first().contains(QStringLiteral("|/scelta|")) ||
                stored().first().contains(QStringLiteral("|/scelta|4")));
    }
};

QTEST_MAIN(TestVirtualDirDialog)
#include "test_virtualdirdialog.moc"
