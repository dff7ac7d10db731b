// DataView: the record cursor over accounts.dat tables and queries.

#include "access/AccountDatabase.h"
#include "access/DataView.h"
#include "tests/support/DbTestSupport.h"

#include <QSignalSpy>
#include <QSqlTableModel>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::access;
using namespace kv::testing;

namespace {

// A fresh accounts.dat in a scratch folder.
struct Scratch {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("accounts.dat"));
    AccountDatabase db{path};

    Scratch() { QVERIFY2(db.open(), qPrintable(db.problem())); }
    // Statements run through another connection, as another program would.
    void sql(const QStringList& statements) { QCOMPARE(runSql(path, statements), QString()); }
    QStringList read(const QString& query) { return texts(column(path, query)); }
};

QStringList logins(DataView& view) {
    QStringList out;
    for (view.MoveFirst(); !view.AtEOF(); view.MoveNext())
        out.append(view.Field("login"));
    return out;
}

} // namespace

class TestDataView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cursorMovesWithinTheRowsInTableOrder() {
        Scratch s;
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QVERIFY(users.BOF() && users.AtEOF() && !users.hasCurrentRow());
        QCOMPARE(users.RecordCount(), 0);

        // Inserted in reverse alphabetical order: the view keeps insertion order,
        // not the order of the login index.
        s.sql({"INSERT INTO users (login) VALUES ('zed')",
               "INSERT INTO users (login) VALUES ('mia')",
               "INSERT INTO users (login) VALUES ('amy')"});
        QSignalSpy moved(&users, &DataView::Reposition);
        QVERIFY(users.Refresh());
        QCOMPARE(users.RecordCount(), 3);
        QCOMPARE(users.Field("login"), QStringLiteral("zed"));
        QVERIFY(!users.BOF() && !users.AtEOF());

        users.MovePrevious();
        QVERIFY(users.BOF() && !users.AtEOF() && !users.hasCurrentRow());
        users.MovePrevious(); // stays before the first row
        QCOMPARE(users.currentRow(), -1);
        users.MoveLast();
        QCOMPARE(users.Field("login"), QStringLiteral("amy"));
        users.MoveNext();
        QVERIFY(users.AtEOF() && !users.BOF());
        QCOMPARE(users.Field("login"), QString());
        users.MoveNext();
        QCOMPARE(users.currentRow(), 3);
        users.MovePrevious();
        QCOMPARE(users.Field("login"), QStringLiteral("amy"));
        QVERIFY(moved.count() >= 7);
        QCOMPARE(logins(users), (QStringList{"zed", "mia", "amy"}));

        // A refresh sees rows other programs added meanwhile.
        s.sql({"INSERT INTO users (login) VALUES ('bob')"});
        QVERIFY(users.Refresh());
        QCOMPARE(users.RecordCount(), 4);
        QCOMPARE(users.currentRow(), 0);

        // More rows than one fetch batch: the count is exact at once.
        QStringList many{"BEGIN"};
        for (int i = 0; i < 600; ++i)
            many.append(
                QStringLiteral("INSERT INTO IPko VALUES ('10.1.%1.%2')").arg(i / 250).arg(i));
        many.append("COMMIT");
        s.sql(many);
        DataView blocked(s.db.connection(), "IPko");
        QVERIFY(blocked.Refresh());
        QCOMPARE(blocked.RecordCount(), 600);
        blocked.MoveLast();
        QCOMPARE(blocked.Field("IP"), QStringLiteral("10.1.2.599"));
    }

    void nullFieldsReadAsEmptyText() {
        Scratch s;
        s.sql({"INSERT INTO users (login, password, rootdir, enabled, read, write, browse) "
               "VALUES ('bob', NULL, NULL, 1, 'true', 0, 0)"});
        // NOT NULL fields cannot hold null; a file made elsewhere may still hold odd values.
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QCOMPARE(users.Field("password"), QString());
        QCOMPARE(users.Field("rootdir"), QString());
        QCOMPARE(users.Field("no such field"), QString());
        QVERIFY(users.isTrue("enabled"));
        QVERIFY(users.isTrue("read"));
        QVERIFY(!users.isTrue("write"));
        QVERIFY(!users.isTrue("rootdir"));
        QVERIFY(!users.isTrue("no such field"));
        QCOMPARE(users.Field("ID"), QStringLiteral("1"));
    }

    void lookupsCompareWholeValues_data() {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("found"); // login of the row found, empty for none
        const auto row = [](const char* name, const QString& login, const QString& password,
                            const QString& found) {
            QTest::newRow(name) << login << password << found;
        };
        row("exact", "bob", "x", "bob");
        row("login in other case", "BOB", "x", "bob");
        row("password in other case", "bob", "X", "");
        row("double quote", "say\"hi", "p\"q", "say\"hi");
        row("single quote", "o'neil", "it's", "o'neil");
        row("percent is no wildcard", "%", "%", "");
        row("underscore is no wildcard", "b_b", "x", "");
        row("literal percent", "100%", "x", "100%");
        row("injection in quotes", "\" OR \"1\"=\"1", "\" OR \"1\"=\"1", "");
        row("injection in apostrophes", "' OR 1=1 --", "x", "");
        row("disabled account", "eve", "x", "");
        row("empty values", "", "", "");
    }

    void lookupsCompareWholeValues() {
        QFETCH(QString, login);
        QFETCH(QString, password);
        QFETCH(QString, found);
        Scratch s;
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        const QList<QStringList> rows = {{"amy", "y", "1"},        {"bob", "x", "1"},
                                         {"say\"hi", "p\"q", "1"}, {"o'neil", "it's", "1"},
                                         {"100%", "x", "1"},       {"eve", "x", "0"}};
        for (const QStringList& row : rows) {
            QVERIFY(users.AddNew());
            QVERIFY(users.setField("login", row[0]));
            QVERIFY(users.setField("password", row[1]));
            QVERIFY(users.setField("enabled", row[2].toInt()));
            QVERIFY(users.Update());
        }
        users.MoveFirst();

        auto clone = users.Clone();
        const bool matched =
            clone->FindFirst("login = ? AND password = ? AND enabled=TRUE", {login, password});
        QCOMPARE(matched, !found.isEmpty());
        QCOMPARE(clone->NoMatch(), found.isEmpty());
        if (matched)
            QCOMPARE(clone->Field("login"), found);
        // The lookup ran on the clone: the operator's row did not move.
        QCOMPARE(users.Field("login"), QStringLiteral("amy"));
    }

    void duplicateLoginIsReportedAndStaysPending_data() {
        QTest::addColumn<bool>("asNewRow");
        QTest::newRow("new row") << true;
        QTest::newRow("edited row") << false;
    }

    void duplicateLoginIsReportedAndStaysPending() {
        QFETCH(bool, asNewRow);
        Scratch s;
        s.sql({"INSERT INTO users (login) VALUES ('Bob')",
               "INSERT INTO users (login) VALUES ('amy')"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QSignalSpy errors(&users, &DataView::Error);
        if (asNewRow) {
            QVERIFY(users.AddNew());
        } else {
            users.MoveLast();
            QVERIFY(users.Edit());
        }
        QVERIFY(users.setField("login", "bob"));
        QVERIFY(!users.Update());
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), kDuplicateKeyError);
        QCOMPARE(users.lastErrorNumber(), kDuplicateKeyError);
        QVERIFY(errors.at(0).at(1).toString().contains("UNIQUE"));

        // The failed row stays current and pending, so it can be fixed and saved.
        QVERIFY(users.isDirty());
        QCOMPARE(users.Field("login"), QStringLiteral("bob"));
        users.MoveFirst(); // leaving the row tries to save it again, and stays
        QCOMPARE(errors.count(), 2);
        QCOMPARE(users.Field("login"), QStringLiteral("bob"));
        QCOMPARE(s.read("SELECT login FROM users ORDER BY ID"), (QStringList{"Bob", "amy"}));

        // A handler that tries to save the row again is not re-entered.
        int handled = 0;
        auto connection = connect(&users, &DataView::Error, &users, [&] {
            ++handled;
            QVERIFY(users.Edit());
            QVERIFY(!users.Update());
        });
        QVERIFY(!users.Update());
        QCOMPARE(handled, 1);
        disconnect(connection);

        QVERIFY(users.setField("login", "carl"));
        QVERIFY(users.Update());
        QCOMPARE(users.lastErrorNumber(), 0);
        const QStringList expected =
            asNewRow ? QStringList{"Bob", "amy", "carl"} : QStringList{"Bob", "carl"};
        QCOMPARE(s.read("SELECT login FROM users ORDER BY ID"), expected);
    }

    void deletingAnAccountAndItsVirtualFolders_data() {
        QTest::addColumn<int>("deletedId");
        QTest::addColumn<QString>("nextCurrent"); // after MoveNext, and MovePrevious past the end

        QTest::newRow("first") << 2 << "id5";
        QTest::newRow("middle") << 5 << "id7";
        QTest::newRow("last") << 7 << "id5";
    }

    void deletingAnAccountAndItsVirtualFolders() {
        QFETCH(int, deletedId);
        QFETCH(QString, nextCurrent);
        Scratch s;
        s.sql({"INSERT INTO users (ID, login) VALUES (2, 'id2')",
               "INSERT INTO users (ID, login) VALUES (5, 'id5')",
               "INSERT INTO users (ID, login) VALUES (7, 'id7')",
               "INSERT INTO virtualdirs VALUES ('a', '/v/a', '/r/a', 5)",
               "INSERT INTO virtualdirs VALUES ('b', '/v/b', '/r/b', 5)",
               "INSERT INTO virtualdirs VALUES ('anon', '/v/c', '/r/c', 0)",
               "INSERT INTO virtualdirs VALUES ('two', '/v/d', '/r/d', 2)",
               "INSERT INTO virtualdirs VALUES ('seven', '/v/e', '/r/e', 7)"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QVERIFY(users.FindFirst("ID = ?", {deletedId}));
        const int id = users.Field("ID").toInt();
        QCOMPARE(id, deletedId);

        QVERIFY(users.Delete());
        QVERIFY(!users.hasCurrentRow());
        users.MoveNext();
        if (users.AtEOF())
            users.MovePrevious();
        QCOMPARE(users.Field("login"), nextCurrent);
        QVERIFY(users.Execute("DELETE FROM virtualdirs WHERE user=?", {id}));

        QCOMPARE(users.RecordCount(), 2);
        QCOMPARE(s.read(QStringLiteral("SELECT count(*) FROM users WHERE ID=%1").arg(id)),
                 QStringList{"0"});
        QCOMPARE(s.read(QStringLiteral("SELECT count(*) FROM virtualdirs WHERE user=%1").arg(id)),
                 QStringList{"0"});
        QCOMPARE(s.read("SELECT count(*) FROM virtualdirs WHERE user=0"), QStringList{"1"});
        QCOMPARE(s.read("SELECT count(*) FROM virtualdirs"),
                 QStringList{QString::number(deletedId == 5 ? 3 : 4)});

        // Deleting the only row left leaves no current row.
        for (int left = 2; left > 0; --left) {
            QVERIFY(users.Delete());
            users.MoveNext();
            if (users.AtEOF())
                users.MovePrevious();
        }
        QCOMPARE(users.RecordCount(), 0);
        QVERIFY(!users.hasCurrentRow());
        QVERIFY(!users.Delete());
    }

    void newRowIsReachedThroughTheLastModifiedRow() {
        Scratch s;
        s.sql({"INSERT INTO users (login) VALUES ('amy')",
               "INSERT INTO users (login) VALUES ('bob')"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        // A cancelled new row, or a deleted one never saved, is just dropped.
        users.MoveLast();
        QVERIFY(users.AddNew());
        QVERIFY(users.setField("login", "carl"));
        QCOMPARE(users.RecordCount(), 3);
        users.CancelUpdate();
        QCOMPARE(users.RecordCount(), 2);
        QCOMPARE(users.Field("login"), QStringLiteral("bob"));
        QVERIFY(!users.isDirty());
        QVERIFY(users.AddNew());
        QVERIFY(users.Delete());
        QCOMPARE(users.RecordCount(), 2);
        QCOMPARE(s.read("SELECT count(*) FROM users"), QStringList{"2"});
        users.MoveLast(); // bob

        QVERIFY(users.AddNew());
        QVERIFY(users.AtEOF() == false && users.hasCurrentRow());
        QCOMPARE(users.Field("login"), QString());
        QVERIFY(users.setField("login", "carl"));
        QVERIFY(users.setField("password", "pw"));
        QVERIFY(users.Update());
        // Saving a new row returns to the row current before it.
        QCOMPARE(users.Field("login"), QStringLiteral("bob"));
        users.MoveToLastModified();
        QCOMPARE(users.Field("login"), QStringLiteral("carl"));
        QVERIFY(users.Field("ID").toInt() > 2);
        // Unset fields took the table's defaults.
        QCOMPARE(users.Field("enabled"), QStringLiteral("0"));

        // An edited row becomes the last modified one too.
        users.MoveFirst();
        QVERIFY(users.Edit());
        QVERIFY(users.setField("password", "new"));
        QVERIFY(users.Update());
        users.MoveLast();
        users.MoveToLastModified();
        QCOMPARE(users.Field("login"), QStringLiteral("amy"));

        // A new row with no field set still saves, with every default.
        DataView allowed(s.db.connection(), "IPok");
        QVERIFY(allowed.Refresh());
        QVERIFY(allowed.AddNew());
        QVERIFY(allowed.Update());
        QCOMPARE(allowed.RecordCount(), 1);
    }

    void pendingEditsStayOnTheViewUntilCommitted() {
        Scratch s;
        s.sql({"INSERT INTO users (login, password, enabled) VALUES ('bob', 'old', 1)"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QVERIFY(users.Edit());
        QVERIFY(users.setField("password", "new"));
        QVERIFY(users.isDirty());
        QCOMPARE(users.Field("password"), QStringLiteral("new"));

        auto clone = users.Clone();
        QVERIFY(!clone->FindFirst("login = ? AND password = ?", {"bob", "new"}));
        QVERIFY(clone->NoMatch());
        QVERIFY(clone->FindFirst("login = ? AND password = ?", {"bob", "old"}));
        QCOMPARE(s.read("SELECT password FROM users"), QStringList{"old"});

        // A pending new row is not seen by a clone either.
        users.CancelUpdate();
        QCOMPARE(users.Field("password"), QStringLiteral("old"));
        QVERIFY(users.AddNew());
        QVERIFY(users.setField("login", "amy"));
        QCOMPARE(users.Clone()->RecordCount(), 1);
        QVERIFY(users.Update());
        QCOMPARE(users.Clone()->RecordCount(), 2);

        users.MoveFirst();
        QVERIFY(users.setField("password", "new"));
        QVERIFY(users.Update());
        QVERIFY(!users.isDirty());
        auto later = users.Clone();
        QVERIFY(later->FindFirst("login = ? AND password = ?", {"bob", "new"}));
        QCOMPARE(s.read("SELECT password FROM users WHERE login='bob'"), QStringList{"new"});
        // An older clone keeps what it read until refreshed.
        QVERIFY(clone->FindFirst("login = ?", {"bob"}));
        QCOMPARE(clone->Field("password"), QStringLiteral("old"));
        QVERIFY(clone->Refresh());
        QCOMPARE(clone->Field("password"), QStringLiteral("new"));
    }

    void movingOffAChangedRowCommitsIt() {
        Scratch s;
        s.sql({"INSERT INTO IPok VALUES ('10.0.0.1')", "INSERT INTO IPok VALUES ('10.0.0.2')"});
        DataView allowed(s.db.connection(), "IPok");
        QVERIFY(allowed.Refresh());
        // Edits as a bound widget makes them: straight into the model.
        QSqlTableModel* model = allowed.tableModel();
        QVERIFY(model);
        QVERIFY(model->setData(model->index(allowed.currentRow(), model->fieldIndex("IP")),
                               "10.0.0.7"));
        QCOMPARE(s.read("SELECT IP FROM IPok"), (QStringList{"10.0.0.1", "10.0.0.2"}));
        allowed.MoveNext();
        QCOMPARE(allowed.Field("IP"), QStringLiteral("10.0.0.2"));
        QVERIFY(!allowed.isDirty());
        QCOMPARE(s.read("SELECT IP FROM IPok"), (QStringList{"10.0.0.7", "10.0.0.2"}));

        QVERIFY(allowed.setField("IP", "10.0.0.8"));
        allowed.MoveFirst();
        QCOMPARE(allowed.Field("IP"), QStringLiteral("10.0.0.7"));
        QVERIFY(allowed.setField("IP", "10.0.0.9"));
        QVERIFY(allowed.FindFirst("IP = ?", {"10.0.0.8"}));
        QCOMPARE(s.read("SELECT IP FROM IPok"), (QStringList{"10.0.0.9", "10.0.0.8"}));

        DataView settings(s.db.connection(), "settings");
        QVERIFY(settings.Refresh());
        QVERIFY(settings.setField("port", "2121"));
        settings.MoveLast();
        QCOMPARE(s.read("SELECT port FROM settings"), QStringList{"2121"});
    }

    void rowsWithoutKeyAreChangedOneByOne() {
        Scratch s;
        s.sql({"INSERT INTO IPko VALUES ('10.0.0.1')", "INSERT INTO IPko VALUES ('10.0.0.1')",
               "INSERT INTO IPko VALUES ('10.0.0.1')"});
        DataView blocked(s.db.connection(), "IPko");
        QVERIFY(blocked.Refresh());
        blocked.MoveNext();
        QVERIFY(blocked.setField("IP", "10.0.0.2"));
        QVERIFY(blocked.Update());
        QCOMPARE(s.read("SELECT IP FROM IPko ORDER BY rowid"),
                 (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.1"}));
        blocked.MoveLast();
        QVERIFY(blocked.Delete());
        QCOMPARE(s.read("SELECT IP FROM IPko ORDER BY rowid"),
                 (QStringList{"10.0.0.1", "10.0.0.2"}));
        QCOMPARE(blocked.RecordCount(), 2);

        // An index added by another program does not change the table order, and
        // saves still reach the row shown.
        s.sql({"CREATE INDEX ip_order ON IPok (IP)", "INSERT INTO IPok VALUES ('10.0.0.9')",
               "INSERT INTO IPok VALUES ('10.0.0.1')"});
        DataView allowed(s.db.connection(), "IPok");
        QVERIFY(allowed.Refresh());
        QCOMPARE(allowed.Field("IP"), QStringLiteral("10.0.0.9"));
        QVERIFY(allowed.setField("IP", "10.0.0.5"));
        allowed.MoveNext();
        QCOMPARE(allowed.Field("IP"), QStringLiteral("10.0.0.1"));
        QCOMPARE(s.read("SELECT IP FROM IPok ORDER BY rowid"),
                 (QStringList{"10.0.0.5", "10.0.0.1"}));
    }

    void queryViewsAreReadOnly() {
        Scratch s;
        s.sql({"INSERT INTO virtualdirs VALUES ('a', '/v/a', NULL, 5)",
               "INSERT INTO virtualdirs VALUES ('z', '/v/z', '/r/z', 6)",
               "INSERT INTO virtualdirs VALUES ('b', '/v/b', '/r/b', 5)"});
        DataView bound(s.db.connection(), "SELECT * FROM virtualdirs WHERE user=?", {5});
        QVERIFY(bound.Refresh());
        QVERIFY(!bound.isTable());
        QVERIFY(bound.tableModel() == nullptr);
        QVERIFY(bound.model() != nullptr);
        QCOMPARE(bound.RecordCount(), 2);
        QCOMPARE(bound.Field("name"), QStringLiteral("a"));
        QCOMPARE(bound.Field("destination"), QString());
        bound.MoveNext();
        QCOMPARE(bound.Field("name"), QStringLiteral("b"));
        QVERIFY(!bound.Edit());
        QVERIFY(!bound.setField("name", "x"));
        QVERIFY(!bound.AddNew());
        QVERIFY(!bound.Delete());
        QVERIFY(!bound.FindFirst("name = ?", {"a"}));
        QVERIFY(bound.NoMatch());

        DataView text(s.db.connection(), "SELECT * FROM virtualdirs WHERE user=6");
        QVERIFY(text.Refresh());
        QCOMPARE(text.RecordCount(), 1);
        QCOMPARE(text.Clone()->Field("name"), QStringLiteral("z"));
        QCOMPARE(s.read("SELECT count(*) FROM virtualdirs"), QStringList{"3"});
    }

    void failingStatementsReportTheirError() {
        Scratch s;
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QSignalSpy errors(&users, &DataView::Error);
        QVERIFY(!users.Execute("DELETE FROM nowhere WHERE x=?", {1}));
        QVERIFY(users.lastErrorNumber() != 0);
        QVERIFY(!users.lastErrorText().isEmpty());
        QVERIFY(!users.FindFirst("no_such_field = ?", {1}));
        QVERIFY(users.NoMatch());
        QCOMPARE(errors.count(), 0); // lookups and statements do not raise the save notification

        DataView missing(s.db.connection(), "no_such_table");
        QVERIFY(!missing.Refresh());
        QCOMPARE(missing.RecordCount(), 0);
        QVERIFY(!missing.AddNew() || !missing.Update());
    }
};

QTEST_GUILESS_MAIN(TestDataView)
#include "test_dataview.moc"
