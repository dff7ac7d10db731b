// One owner's virtual folders on a temporary accounts.dat: edits written at
// once, where deleting moves, and the full virtual position. The dialog test
// drives the rest through the controls.

#include "access/AccountDatabase.h"
#include "admin/logic/VirtualDirList.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestVirtualDirList : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<kv::access::AccountDatabase> db;

    QStringList rows(const QString& sql) {
        QStringList out;
        QSqlQuery query(db->connection());
        query.exec(sql);
        while (query.next())
            out.append(query.value(0).toString());
        return out;
    }

private Q_SLOTS:
    void init() {
        QFile::remove(dir.filePath(u"accounts.dat"_s));
        db = std::make_unique<kv::access::AccountDatabase>(dir.filePath(u"accounts.dat"_s));
        QVERIFY(db->open());
        QSqlQuery query(db->connection());
        for (const char* sql : {"INSERT INTO virtualdirs VALUES ('a', '/x', '/real/a', 5)",
                                "INSERT INTO virtualdirs VALUES ('anon', '/', '/pub', 0)",
                                "INSERT INTO virtualdirs VALUES ('b', NULL, NULL, 5)",
                                "INSERT INTO virtualdirs VALUES ('c', '/', '/c', 55)"})
            QVERIFY(query.exec(QLatin1String(sql)));
    }
    void cleanup() { db.reset(); }

    void editsWriteTheCurrentRowAtOnce() {
        kv::admin::VirtualDirList list(db->connection(), 5);
        list.Refresh();
        list.setCurrentRow(1);
        QCOMPARE(list.field(kv::admin::VirtualDirList::Source), QString()); // NULL reads empty
        QVERIFY(list.setField(kv::admin::VirtualDirList::Source, u"/v"_s));
        QVERIFY(list.setField(kv::admin::VirtualDirList::Name, u"b2"_s));
        QCOMPARE(list.index(1, 0).data().toString(), u"b2"_s);
        const QString sql = u"SELECT name || '|' || ifnull(source, '-') || '|' || "
                            "ifnull(destination, '-') FROM virtualdirs ORDER BY rowid"_s;
        const QStringList expected{"a|/x|/real/a", "anon|/|/pub", "b2|/v|-", "c|/|/c"};
        QCOMPARE(rows(sql), expected);
        QVERIFY(list.Refresh());
        QCOMPARE(list.rowCount(), 2);
        QCOMPARE(rows(sql), expected);
    }

    void deletingMovesToTheFollowingOrPreviousRow() {
        kv::admin::VirtualDirList list(db->connection(), 5);
        list.Refresh();
        list.cmdNuova(); // rows a, b, new
        list.setCurrentRow(0);
        QVERIFY(list.cmdElimina());
        QCOMPARE(list.field(kv::admin::VirtualDirList::Name), u"b"_s);
        list.setCurrentRow(1);
        QVERIFY(list.cmdElimina()); // the last row: the one before it follows
        QCOMPARE(list.currentRow(), 0);
        QCOMPARE(list.field(kv::admin::VirtualDirList::Name), u"b"_s);
        QVERIFY(list.cmdElimina());
        QCOMPARE(list.currentRow(), -1);
        QVERIFY(!list.cmdElimina());
        QCOMPARE(rows(u"SELECT name FROM virtualdirs ORDER BY rowid"_s),
                 (QStringList{"anon", "c"}));
    }

    void aggiornaPath_data() {
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("full");
        const char* const rows[][4] = {
            {"adds one slash", "/docs", "foto", "/docs/foto"},
            {"backslashes kept", "C:\\dati", "foto", "C:\\dati/foto"},
            {"already ends in slash", "/docs/", "foto", "/docs/foto"},
            {"blanks only", "   ", "foto", "foto"},
            {"empty", "", "foto", "foto"},
            {"trimmed", "  /a  ", "  b ", "/a/b"},
            {"no name", "/a", "", "/a/"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString::fromLatin1(r[1]) << QString::fromLatin1(r[2])
                                << QString::fromLatin1(r[3]);
    }
    void aggiornaPath() {
        QFETCH(QString, position);
        QFETCH(QString, name);
        QFETCH(QString, full);
        QCOMPARE(kv::admin::AggiornaPath(position, name), full);
    }
};

QTEST_GUILESS_MAIN(TestVirtualDirList)
#include "test_virtualdirlist.moc"
