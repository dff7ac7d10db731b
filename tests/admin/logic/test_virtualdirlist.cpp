// One owner's virtual folders on a temporary accounts.dat: edits written at
// once, where deleting moves, and the full virtual position.

#include "admin/logic/VirtualDirList.h"
#include "tests/support/OptionsFixture.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using kv::admin::VirtualDirList;

namespace {

// Account 5's folders a and b among the anonymous account's and account 55's.
struct Fixture : kv::testing::OptionsFixture {
    Fixture()
        : OptionsFixture({u"INSERT INTO virtualdirs VALUES ('a', '/x', '/real/a', 5), ('anon', "
                          "'/', '/pub', 0), ('b', NULL, NULL, 5), ('c', '/', '/c', 55)"_s}) {}
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
        QVERIFY(list.setField(VirtualDirList::Source, u"/v"_s));
        QCOMPARE(f.rows(u"SELECT name || '|' || ifnull(source, '-') || '|' || ifnull(destination, "
                        "'-') FROM virtualdirs ORDER BY rowid"_s),
                 (QStringList{"a|/x|/real/a", "anon|/|/pub", "b|/v|-", "c|/|/c"}));
    }

    void deletingMovesToTheFollowingRow() {
        Fixture f;
        VirtualDirList list(f.db.connection(), 5);
        list.Refresh();
        list.cmdNuova(); // rows a, b, new
        list.setCurrentRow(0);
        QVERIFY(list.cmdElimina());
        QCOMPARE(list.field(VirtualDirList::Name), u"b"_s); // the dialog's test: the last row
        QVERIFY(list.cmdElimina() && list.cmdElimina());
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
