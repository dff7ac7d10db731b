// One owner's virtual folders on a temporary accounts.dat: only the owner's
// rows, new rows owned by it, immediate writes, deleting, and the full
// virtual position.

#include "access/AccountDatabase.h"
#include "admin/logic/VirtualDirList.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

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
        QFile::remove(dir.filePath(QStringLiteral("accounts.dat")));
        db = std::make_unique<kv::access::AccountDatabase>(
            dir.filePath(QStringLiteral("accounts.dat")));
        QVERIFY(db->open());
        QSqlQuery query(db->connection());
        for (const char* sql : {"INSERT INTO virtualdirs VALUES ('a', '/x', '/real/a', 5)",
                                "INSERT INTO virtualdirs VALUES ('anon', '/', '/pub', 0)",
                                "INSERT INTO virtualdirs VALUES ('b', NULL, NULL, 5)",
                                "INSERT INTO virtualdirs VALUES ('c', '/', '/c', 55)"})
            QVERIFY(query.exec(QLatin1String(sql)));
    }
    void cleanup() { db.reset(); }

    void showsOnlyTheOwnersRows_data() {
        QTest::addColumn<int>("owner");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("account 5") << 5 << QStringList{"a", "b"};
        QTest::newRow("anonymous") << 0 << QStringList{"anon"};
        QTest::newRow("no folders") << 9 << QStringList{};
    }
    void showsOnlyTheOwnersRows() {
        QFETCH(int, owner);
        QFETCH(QStringList, names);
        kv::admin::VirtualDirList list(db->connection(), owner);
        QVERIFY(list.Refresh());
        QStringList shown;
        for (int row = 0; row < list.rowCount(); ++row)
            shown.append(list.index(row, 0).data().toString());
        QCOMPARE(shown, names);
        QCOMPARE(list.currentRow(), names.isEmpty() ? -1 : 0);
        QCOMPARE(list.headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("Posizione virtuale"));
    }

    void nullFieldsReadAsEmptyText() {
        kv::admin::VirtualDirList list(db->connection(), 5);
        list.Refresh();
        list.setCurrentRow(1);
        QCOMPARE(list.field(kv::admin::VirtualDirList::Source), QString());
        QCOMPARE(list.index(1, 2).data().toString(), QString());
    }

    void newRowsBelongToTheOwnerAndBecomeCurrent() {
        kv::admin::VirtualDirList list(db->connection(), 9);
        list.Refresh();
        QSignalSpy moved(&list, &kv::admin::VirtualDirList::currentRowChanged);
        QVERIFY(list.cmdNuova());
        QVERIFY(list.cmdNuova());
        QCOMPARE(list.currentRow(), 1);
        QCOMPARE(moved.size(), 2);
        QCOMPARE(rows(QStringLiteral("SELECT count(*) FROM virtualdirs WHERE user=9")),
                 QStringList{"2"});
    }

    void fieldsAreWrittenAtOnce() {
        kv::admin::VirtualDirList list(db->connection(), 5);
        list.Refresh();
        list.setCurrentRow(1);
        QVERIFY(list.setField(kv::admin::VirtualDirList::Source, QStringLiteral("/dove")));
        QVERIFY(list.setField(kv::admin::VirtualDirList::Destination, QStringLiteral("/vero")));
        QVERIFY(list.setField(kv::admin::VirtualDirList::Name, QStringLiteral("b2")));
        QCOMPARE(
            rows(QStringLiteral(
                "SELECT name||source||destination FROM virtualdirs WHERE user=5 ORDER BY rowid")),
            (QStringList{"a/x/real/a", "b2/dove/vero"}));
        // Another owner's rows with the same name stay as they are.
        QCOMPARE(rows(QStringLiteral("SELECT name FROM virtualdirs WHERE user<>5 ORDER BY rowid")),
                 (QStringList{"anon", "c"}));
    }

    void deletingMovesToTheFollowingOrPreviousRow() {
        kv::admin::VirtualDirList list(db->connection(), 5);
        list.Refresh();
        list.cmdNuova(); // rows a, b, new
        list.setCurrentRow(0);
        QVERIFY(list.cmdElimina());
        QCOMPARE(list.field(kv::admin::VirtualDirList::Name), QStringLiteral("b"));
        list.setCurrentRow(1);
        QVERIFY(list.cmdElimina()); // the last row: the one before it follows
        QCOMPARE(list.currentRow(), 0);
        QCOMPARE(list.field(kv::admin::VirtualDirList::Name), QStringLiteral("b"));
        QVERIFY(list.cmdElimina());
        QCOMPARE(list.currentRow(), -1);
        QVERIFY(!list.cmdElimina());
        QCOMPARE(rows(QStringLiteral("SELECT name FROM virtualdirs ORDER BY rowid")),
                 (QStringList{"anon", "c"}));
    }

    void aggiornaPath_data() {
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("full");
        QTest::newRow("adds one slash") << "/docs"
                                        << "foto"
                                        << "/docs/foto";
        QTest::newRow("backslashes kept") << "C:\\dati"
                                          << "foto"
                                          << "C:\\dati/foto";
        QTest::newRow("already ends in slash") << "/docs/"
                                               << "foto"
                                               << "/docs/foto";
        QTest::newRow("blanks only") << "   "
                                     << "foto"
                                     << "foto";
        QTest::newRow("empty") << ""
                               << "foto"
                               << "foto";
        QTest::newRow("trimmed") << "  /a  "
                                 << "  b "
                                 << "/a/b";
        QTest::newRow("no name") << "/a"
                                 << ""
                                 << "/a/";
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
