// QuotaTable: a file without the tally table reads as "still to count" and is
// left as it is; tallies are kept with their "current" mark, every account
// (the anonymous one too) is listed, a scan counts root and virtual folders
// (each disk file once), a deleted account's tally goes with it, and
// accounts whose folders overlap are named.
#include "access/AccountDatabase.h"
#include "access/QuotaTable.h"
#include "tests/support/DbTestSupport.h"

#include <QDir>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using kv::access::AccountDatabase;
using kv::access::QuotaTable;
using kv::session::QuotaTally;

class TestQuotaTable : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<AccountDatabase> db_;
    std::unique_ptr<QuotaTable> table_;

    bool sql(const QString& statement) { return QSqlQuery(db_->connection()).exec(statement); }
    qint32 idOf(const QString& login) {
        QSqlQuery q(db_->connection());
        return q.exec("SELECT ID FROM users WHERE login = '" + login + "'") && q.next()
                   ? q.value(0).toInt()
                   : -1;
    }
    QString folder(const QString& name) {
        const QString path = dir_.filePath(name);
        QDir().mkpath(path);
        return path;
    }
    void writeFile(const QString& path, qint64 size) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(int(size), 'x'));
    }

private Q_SLOTS:
    void init() {
        table_.reset();
        db_.reset();
        QFile::remove(dir_.filePath("accounts.dat"));
        db_ = std::make_unique<AccountDatabase>(dir_.filePath("accounts.dat"));
        QVERIFY2(db_->open(), qPrintable(db_->problem()));
        QVERIFY(sql("INSERT INTO settings (rootdir) VALUES ('" + folder("default") + "')"));
        QVERIFY(sql("INSERT INTO users (login, rootdir) VALUES ('bob', '" + folder("bob") + "')"));
        QVERIFY(sql("INSERT INTO users (login, rootdir) VALUES ('carol', '')")); // the default root
        QVERIFY(sql("INSERT INTO users (login, rootdir) VALUES ('dan', '" + folder("dan") + "')"));
        QVERIFY(sql("UPDATE anonymous SET rootdir = '" + folder("bob/pub") + "'"));
        QVERIFY(sql("INSERT INTO virtualdirs (name, source, destination, user) VALUES ('s', '', '" +
                    folder("shared") + "', " + QString::number(idOf("dan")) + ")"));
        table_ = std::make_unique<QuotaTable>(db_->connection(),
                                              [this] { return dir_.filePath("default"); });
    }

    void aFileWithoutTalliesIsLeftAsItIs() {
        const QByteArray before = kv::testing::fileHash(db_->filePath());
        const auto rows = table_->rows();
        QStringList logins;
        for (const auto& row : rows) {
            logins << row.login;
            QVERIFY(!row.counted);
        }
        QCOMPARE(logins, (QStringList{"anonymous", "bob", "carol", "dan"}));
        QCOMPARE(kv::testing::fileHash(db_->filePath()), before);
    }

    void tallyKeptWithItsMarkAndGoesWithItsAccount() {
        const qint32 bob = idOf("bob");
        table_->saveTallies({{bob, {100, 2}}}, false);
        auto stored = table_->loadTallies();
        QCOMPARE(stored[bob].tally, (QuotaTally{100, 2}));
        QVERIFY(stored[bob].kept && !stored[bob].current);
        table_->saveTallies({{bob, {120, 3}}}, true);
        stored = table_->loadTallies();
        QVERIFY(stored[bob].current);
        QCOMPARE(table_->rows("BOB").value(0).used, (QuotaTally{120, 3}));
        QVERIFY(sql("DELETE FROM users WHERE login = 'bob'"));
        QVariantList left;
        QCOMPARE(
            kv::testing::rawSql(db_->filePath(), {"SELECT count(*) FROM quota_usage"}, true, &left),
            QString());
        QCOMPARE(left.value(0).toInt(), 0);
    }

    void scanCountsRootAndVirtualFolders() {
        writeFile(dir_.filePath("dan/a"), 10);
        writeFile(dir_.filePath("shared/b"), 20);
        writeFile(dir_.filePath("default/c"), 5);
        QCOMPARE(table_->scanNow(idOf("dan")), (QuotaTally{30, 2}));
        QCOMPARE(table_->scanNow(idOf("carol")), (QuotaTally{5, 1}));
        const auto rows = table_->rows("dan");
        QVERIFY(rows.value(0).counted);
        QCOMPARE(rows.value(0).toJson().value("bytesUsed").toInt(), 30);
    }

    void overlappingFoldersAreNamed() {
        // bob's root holds the anonymous root; dan's virtual folder is carol's root.
        QVERIFY(sql("UPDATE virtualdirs SET destination = '" + dir_.filePath("default") + "'"));
        QCOMPARE(table_->overlaps(), (QList<QStringList>{{"anonymous", "bob"}, {"carol", "dan"}}));
    }
};

QTEST_GUILESS_MAIN(TestQuotaTable)
#include "test_quotatable.moc"
