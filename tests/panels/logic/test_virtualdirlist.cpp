// One owner's virtual folders on a temporary accounts.dat: edits judged and
// written at once, a new folder stored only whole, where deleting moves, and
// the full virtual position. What each field refuses: test_entrychecks.

#include "panels/logic/VirtualDirList.h"
#include "tests/support/OptionsFixture.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using kv::admin::VirtualDirList;

namespace {

// Account 5's folders a and b among the anonymous account's and account 55's;
// the default root is a scratch folder.
struct Fixture : kv::testing::OptionsFixture {
    QTemporaryDir root;
    Fixture()
        : OptionsFixture({u"INSERT INTO virtualdirs VALUES ('a', '/x', '/real/a', 5), ('anon', "
                          "'/', '/pub', 0), ('b', NULL, NULL, 5), ('c', '/', '/c', 55)"_s}) {
        QCOMPARE(
            kv::testing::runSql(path, {u"UPDATE settings SET rootdir = '%1'"_s.arg(root.path())}),
            QString());
    }
    QStringList rows(const QString& sql) const {
        return kv::testing::texts(kv::testing::column(path, sql));
    }
};

} // namespace

class TestVirtualDirList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Only the edited field of the current row is written; NULL fields stay NULL.
    void editsWriteTheCurrentRowAtOnce() {
        Fixture f;
        VirtualDirList list(f.db.connection(), 5);
        QVERIFY(list.Refresh());
        QCOMPARE(list.rowCount(), 2); // not account 55's
        list.setCurrentRow(1);
        QCOMPARE(list.field(VirtualDirList::Source), QString());
        const QString inside = f.root.filePath(u"v"_s);
        QVERIFY(list.setField(VirtualDirList::Source, inside));
        // A refused value leaves the row as it was, saying why.
        QVERIFY(!list.setField(VirtualDirList::Source, u"/"_s));
        QCOMPARE(list.lastError(), u"La cartella \"/\" non è dentro la cartella principale "
                                   "\"%1\""_s.arg(f.root.path()));
        QCOMPARE(f.rows(u"SELECT name || '|' || ifnull(source, '-') || '|' || ifnull(destination, "
                        "'-') FROM virtualdirs ORDER BY rowid"_s),
                 (QStringList{"a|/x|/real/a", "anon|/|/pub", "b|" + inside + "|-", "c|/|/c"}));
        QCOMPARE(list.field(VirtualDirList::Source), inside);
    }

    // "Nuova" waits for a name and a real folder before anything is stored;
    // a second press while it waits adds nothing; left half-made, it goes.
    void aNewFolderIsStoredOnlyWhole() {
        Fixture f;
        const QString stored = u"SELECT name || '|' || source || '|' || destination || '|' || "
                               "user FROM virtualdirs WHERE user = 5 ORDER BY rowid"_s;
        const QStringList before = f.rows(stored);
        VirtualDirList list(f.db.connection(), 5);
        QVERIFY(list.Refresh());
        QVERIFY(list.cmdNuova() && list.cmdNuova());
        QCOMPARE(list.rowCount(), 3);
        QCOMPARE(list.currentRow(), 2);
        QVERIFY(list.isPending());
        QVERIFY(list.setField(VirtualDirList::Name, u"nuova"_s));
        QCOMPARE(f.rows(stored), before);
        list.setCurrentRow(0); // left half-made
        QCOMPARE(list.rowCount(), 2);
        QCOMPARE(f.rows(stored), before);

        QVERIFY(list.cmdNuova());
        QVERIFY(list.setField(VirtualDirList::Destination, f.root.path()));
        QCOMPARE(f.rows(stored), before);
        QVERIFY(list.setField(VirtualDirList::Name, u"nuova"_s));
        QCOMPARE(f.rows(stored), before + QStringList{u"nuova||%1|5"_s.arg(f.root.path())});
        QVERIFY(!list.isPending());
        list.setCurrentRow(0);
        QCOMPARE(list.rowCount(), 3);
    }

    void deletingMovesToTheFollowingRow() {
        Fixture f;
        VirtualDirList list(f.db.connection(), 5);
        list.Refresh();
        QVERIFY(list.cmdNuova() && list.cmdElimina()); // never stored: simply dropped
        QCOMPARE(list.currentRow(), 1);
        list.setCurrentRow(0);
        QVERIFY(list.cmdElimina());
        QCOMPARE(list.field(VirtualDirList::Name), u"b"_s); // the dialog's test: the last row
        QVERIFY(list.cmdElimina());
        QCOMPARE(list.currentRow(), -1);
        QVERIFY(!list.cmdElimina());
        QCOMPARE(f.rows(u"SELECT name FROM virtualdirs ORDER BY rowid"_s),
                 (QStringList{"anon", "c"}));
    }

    void aggiornaPath_data() {
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("full");
        QTest::newRow("already ends in slash") << u"/docs/"_s << u"foto"_s << u"/docs/foto"_s;
        QTest::newRow("empty") << QString() << u"foto"_s << u"foto"_s;
        QTest::newRow("trimmed") << u"  /a  "_s << u"  b "_s << u"/a/b"_s;
        QTest::newRow("no name") << u"/a"_s << QString() << u"/a/"_s;
    }
    void aggiornaPath() {
        QFETCH(QString, position);
        QFETCH(QString, name);
        QTEST(kv::admin::AggiornaPath(position, name), "full");
    }
};

QTEST_GUILESS_MAIN(TestVirtualDirList)
#include "test_virtualdirlist.moc"
