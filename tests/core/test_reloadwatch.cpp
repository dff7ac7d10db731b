// Which of the window's own writes a running server must reread.
#include "access/AccountDatabase.h"
#include "core/ReloadWatch.h"
#include "tests/support/DbTestSupport.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;

class TestReloadWatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void onlyWhatTheServerRereadsCounts_data() {
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<bool>("needed");
        const auto row = [](const char* name, QStringList writes, bool needed) {
            QTest::newRow(name) << writes << needed;
        };
        row("an account", {"INSERT INTO users (login, password) VALUES ('anna', 'x')"}, false);
        row("the anonymous account", {"UPDATE anonymous SET enabled = 1"}, false);
        row("a virtual folder", {"INSERT INTO virtualdirs (user, name) VALUES (1, 'v')"}, false);
        row("the port", {"UPDATE settings SET port = '2222'"}, true);
        row("the root", {"UPDATE settings SET rootdir = '/srv'"}, true);
        row("the block list's switch", {"UPDATE settings SET IPko = 1"}, true);
        row("the start box, read by the window only", {"UPDATE settings SET start = 1"}, false);
        row("the minimised box", {"UPDATE settings SET minimized = '1'"}, false);
        row("an option", {"INSERT OR REPLACE INTO options VALUES ('tls', 'on')"}, true);
        row("an allow list entry", {"INSERT INTO IPok VALUES ('10.0.0.1')"}, true);
        row("a block list entry", {"INSERT INTO IPko VALUES ('10.0.0.2')"}, true);
        row("an account's limits",
            {"INSERT INTO account_limits (account, rate_down_kib) VALUES (1, 100)"}, true);
        row("the anonymous account's expiry date",
            {"INSERT INTO account_limits (account, expires) VALUES (0, '2030-01-01')"}, true);
        row("the same value again", {"UPDATE settings SET port = port"}, false);
        row("a change put back",
            {"UPDATE settings SET port = '1'", "UPDATE settings SET port = '21'"}, false);
    }
    void onlyWhatTheServerRereadsCounts() {
        QFETCH(QStringList, writes);
        QFETCH(bool, needed);
        QTemporaryDir dir;
        access::AccountDatabase db(dir.filePath(QStringLiteral("accounts.dat")));
        QVERIFY(db.open());
        QSqlQuery(db.connection()).exec(QStringLiteral("UPDATE settings SET port = '21'"));
        QSqlQuery(db.connection())
            .exec(QStringLiteral("CREATE TABLE IF NOT EXISTS options (name TEXT PRIMARY KEY, "
                                 "value TEXT)"));
        ReloadWatch watch(db.connection());
        watch.rebase();
        QVERIFY(!watch.reloadNeeded());
        for (const QString& write : writes)
            QVERIFY2(QSqlQuery(db.connection()).exec(write), qPrintable(write));
        QCOMPARE(watch.reloadNeeded(), needed);
        QVERIFY(!watch.reloadNeeded()); // said once
    }

    // Another program's writes are its own to announce (kestrova reload).
    void writesOfAnotherConnectionAreNotTheWindows() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("accounts.dat"));
        access::AccountDatabase db(path);
        QVERIFY(db.open());
        ReloadWatch watch(db.connection());
        watch.rebase();
        QCOMPARE(testing::runSql(path, {"UPDATE settings SET port = '2121'"}), QString());
        QVERIFY(!watch.reloadNeeded());
        // Its change is part of what the window's next write is compared with.
        QVERIFY(
            QSqlQuery(db.connection()).exec(QStringLiteral("UPDATE settings SET timeout = '99'")));
        QVERIFY(watch.reloadNeeded());
    }
};

QTEST_GUILESS_MAIN(TestReloadWatch)
#include "test_reloadwatch.moc"
