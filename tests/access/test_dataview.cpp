// DataView: the record cursor over accounts.dat tables and queries, its edits
// and what reaches the file.

#include "access/AccountDatabase.h"
#include "access/DataView.h"
#include "tests/support/DbTestSupport.h"

#include <QSignalSpy>
#include <QSqlTableModel>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

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

// Where the cursor stands: the current row as login:password:enabled, or BOF / EOF / gap.
QString position(const DataView& view) {
    if (view.hasCurrentRow())
        return QStringList{view.Field("login"), view.Field("password"), view.Field("enabled")}.join(
            u':');
    return view.BOF() ? "BOF" : view.AtEOF() ? "EOF" : "gap";
}

// Runs steps such as "last add set:login=carl update" on the view.
void run(DataView& view, const QString& steps) {
    for (const QString& step : steps.split(u' ', Qt::SkipEmptyParts)) {
        if (step.startsWith("set:")) {
            const QStringList pair = step.mid(4).split(u'=');
            QVERIFY(view.setField(pair[0], pair[1]));
        }
        const QHash<QString, std::function<void()>> moves = {
            {"first", [&] { view.MoveFirst(); }},
            {"last", [&] { view.MoveLast(); }},
            {"next", [&] { view.MoveNext(); }},
            {"previous", [&] { view.MovePrevious(); }},
            {"add", [&] { view.AddNew(); }},
            {"update", [&] { view.Update(); }},
            {"cancel", [&] { view.CancelUpdate(); }},
            {"delete", [&] { view.Delete(); }},
            {"lastmod", [&] { view.MoveToLastModified(); }}};
        if (moves.contains(step))
            moves[step]();
    }
}

} // namespace

class TestDataView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Rows, null fields and new columns written by another program.
    void refreshReadsWhatOtherProgramsWrote() {
        Scratch s;
        DataView blocked(s.db.connection(), "IPko");
        QVERIFY(blocked.Refresh());
        QVERIFY(blocked.BOF() && blocked.AtEOF() && !blocked.hasCurrentRow());
        // More rows than one fetch batch: the count is exact at once.
        QStringList many{"BEGIN"};
        for (int i = 0; i < 600; ++i)
            many << QStringLiteral("INSERT INTO IPko VALUES ('10.1.%1.%2')").arg(i / 250).arg(i);
        s.sql(many << "COMMIT");
        QVERIFY(blocked.Refresh());
        QCOMPARE(blocked.RecordCount(), 600);
        blocked.MoveLast();
        QCOMPARE(blocked.Field("IP"), QStringLiteral("10.1.2.599"));

        s.sql({"INSERT INTO users (login, password, rootdir, enabled, read, write) "
               "VALUES ('bob', NULL, NULL, 1, 'true', 0)"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QCOMPARE(users.Field("password") + users.Field("rootdir") + users.Field("comment"),
                 QString());
        QVERIFY(users.isTrue("enabled") && users.isTrue("read"));
        QVERIFY(!users.isTrue("write") && !users.isTrue("rootdir") && !users.isTrue("comment"));
        s.sql({"ALTER TABLE users ADD COLUMN comment TEXT", "UPDATE users SET comment = 'y'"});
        QVERIFY(users.Refresh());
        QCOMPARE(users.Field("login") + users.Field("comment"), QStringLiteral("boby"));
    }

    // Moves and edits on the users rows zed and amy, in that (table, not
    // login index) order; `file` is what accounts.dat then holds, `at` the
    // current row as login:password:enabled, or BOF / EOF.
    void movesAndEdits_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("at");
        QTest::addColumn<int>("errors");
        const auto row = [](const char* name, const char* steps, const char* at,
                            const char* file = "zed:,amy:", int errors = 0) {
            QTest::newRow(name) << steps << file << at << errors;
        };
        // clang-format off
        row("refresh starts at the first row", "", "zed::0");
        row("next", "next", "amy::0");
        row("past the last row", "next next", "EOF");
        row("back from past the end", "last next next previous", "amy::0");
        row("before the first row", "previous", "BOF");
        row("stays before the first row", "previous previous next", "zed::0");
        row("edit saved", "set:password=new update", "zed:new:0", "zed:new,amy:");
        row("edit pending until saved", "set:password=new", "zed:new:0");
        row("moving off saves", "set:password=new next", "amy::0", "zed:new,amy:");
        row("moving back saves", "last set:password=new first", "zed::0", "zed:,amy:new");
        row("cancelled edit", "set:password=new cancel", "zed::0");
        row("new row returns to the row before", "last add set:login=carl update", "amy::0", "zed:,amy:,carl:");
        row("new row reached as last modified", "add set:login=carl set:password=pw update lastmod", "carl:pw:0", "zed:,amy:,carl:pw");
        row("edited row is last modified", "set:password=x update last lastmod", "zed:x:0", "zed:x,amy:");
        row("cancelled new row", "last add set:login=carl cancel", "amy::0");
        row("unsaved new row deleted", "add set:login=carl delete", "zed::0");
        row("deleted first, next reaches the following", "delete next", "amy::0", "amy:");
        row("deleted last, previous reaches the one before", "last delete previous", "zed::0", "zed:");
        row("deleted last, next is past the end", "last delete next", "EOF", "zed:");
        row("every row deleted", "delete next delete delete", "BOF", "");
        row("duplicate login stays pending", "set:login=AMY update", "AMY::0", "zed:,amy:", 1);
        row("moving off a failing row stays", "set:login=amy next", "amy::0", "zed:,amy:", 1);
        row("duplicate corrected", "set:login=AMY update set:login=carl update", "carl::0", "carl:,amy:", 1);
        row("new duplicate", "add set:login=Zed update", "Zed::", "zed:,amy:", 1);
        // clang-format on
    }
    void movesAndEdits() {
        QFETCH(QString, steps);
        QFETCH(int, errors);
        Scratch s;
        s.sql({"INSERT INTO users (login, password) VALUES ('zed', ''), ('amy', '')"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QSignalSpy spy(&users, &DataView::Error);
        run(users, steps);
        const char* all =
            "SELECT ifnull(group_concat(login || ':' || ifnull(password, '')), '') FROM users";
        QTEST(s.read(all).value(0), "file");
        QTEST(position(users), "at");
        QCOMPARE(spy.count(), errors);
        if (errors) {
            QCOMPARE(spy.at(0).at(0).toInt(), kDuplicateKeyError);
            QVERIFY(spy.at(0).at(1).toString().contains("UNIQUE"));
        }
    }

    // Lookups run on a clone, with values bound whole, and see committed rows only.
    void clonesLookUpCommittedRows() {
        Scratch s;
        s.sql({"INSERT INTO users (login, password) VALUES ('amy', 'old'), ('100%', 'x')"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        auto clone = users.Clone();
        const QString both = "login = ? AND password = ?";
        QVERIFY(clone->FindFirst(both, {"100%", "x"}) && !clone->NoMatch());
        QCOMPARE(clone->Field("login"), QStringLiteral("100%"));
        QVERIFY(!clone->FindFirst(both, {"' OR 1=1 --", "%"}) && clone->NoMatch());
        QCOMPARE(users.Field("login"), QStringLiteral("amy")); // the operator's row did not move
        QVERIFY(users.Edit() && users.setField("password", "new"));
        QVERIFY(!clone->FindFirst("password = ?", {"new"}));
        QVERIFY(users.AddNew()); // saves the edit first
        QCOMPARE(users.Clone()->RecordCount(), 2);
        QVERIFY(clone->FindFirst("login = ?", {"amy"}));
        QCOMPARE(clone->Field("password"), QStringLiteral("old")); // until refreshed
        QVERIFY(clone->Refresh());
        QCOMPARE(clone->Field("password"), QStringLiteral("new"));
    }

    void errorHandlerThatSavesAgainIsNotReentered() {
        Scratch s;
        s.sql({"INSERT INTO users (login) VALUES ('amy'), ('bob')"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        int handled = 0;
        connect(&users, &DataView::Error, &users, [&] {
            ++handled;
            QVERIFY(!users.Update());
        });
        QVERIFY(users.setField("login", "bob"));
        QVERIFY(!users.Update());
        QCOMPARE(handled, 1);
        QCOMPARE(users.lastErrorNumber(), kDuplicateKeyError);
    }

    void widgetEditsAndRowsWithoutKey() {
        Scratch s;
        s.sql({"INSERT INTO IPko VALUES ('10.0.0.1'), ('10.0.0.1'), ('10.0.0.1')",
               "CREATE INDEX ip_order ON IPko (IP)"});
        DataView blocked(s.db.connection(), "IPko");
        QVERIFY(blocked.Refresh());
        // An edit as a bound widget makes it, straight into the model, is saved
        // by the move off the row, on exactly that row.
        blocked.MoveNext();
        QSqlTableModel* model = blocked.tableModel();
        QVERIFY(model->setData(model->index(blocked.currentRow(), 0), "10.0.0.2"));
        blocked.MoveLast();
        QVERIFY(blocked.Delete());
        QCOMPARE(s.read("SELECT group_concat(IP) FROM IPko"), QStringList{"10.0.0.1,10.0.0.2"});
        // A new row with no field set saves with every default.
        QVERIFY(blocked.AddNew() && blocked.Update());
        QCOMPARE(s.read("SELECT count(*) FROM IPko"), QStringList{"3"});
    }

    // Query views are read-only; statements that fail report their error.
    void queriesAndStatements() {
        Scratch s;
        s.sql({"INSERT INTO virtualdirs VALUES ('a', '/v/a', NULL, 5), ('z', '', '', 6), "
               "('b', '/v/b', '/r/b', 5)"});
        DataView bound(s.db.connection(), "SELECT * FROM virtualdirs WHERE user=?", {5});
        QVERIFY(bound.Refresh());
        QVERIFY(!bound.isTable() && !bound.tableModel() && bound.model());
        QCOMPARE(bound.RecordCount(), 2);
        QCOMPARE(bound.Clone()->Field("name"), QStringLiteral("a"));
        QVERIFY(!bound.Edit() && !bound.setField("name", "x") && !bound.AddNew());
        QVERIFY(!bound.Delete() && !bound.FindFirst("name = ?", {"a"}));
        QCOMPARE(s.read("SELECT count(*) FROM virtualdirs"), QStringList{"3"});
        DataView users(s.db.connection(), "users");
        QVERIFY(users.Refresh());
        QSignalSpy errors(&users, &DataView::Error);
        QVERIFY(users.Execute("INSERT INTO IPko VALUES (?), (?)", {"it's", 5}));
        QCOMPARE(s.read("SELECT group_concat(IP) FROM IPko"), QStringList{"it's,5"});
        QVERIFY(!users.Execute("DELETE FROM nowhere WHERE x=?", {1}));
        QVERIFY(users.lastErrorNumber() != 0 && !users.lastErrorText().isEmpty());
        QVERIFY(!users.FindFirst("no_such_field = ?", {1}) && users.NoMatch());
        QCOMPARE(errors.count(), 0); // lookups and statements do not raise the save notification
        DataView missing(s.db.connection(), "no_such_table");
        QVERIFY(!missing.Refresh());
        QVERIFY(!missing.AddNew() || !missing.Update());
    }
};

QTEST_GUILESS_MAIN(TestDataView)
#include "test_dataview.moc"
