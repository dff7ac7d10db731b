// AccountDatabase and AccountViews: creating accounts.dat, accepting files made
// by other programs, refusing (and never touching) files that are not ours.

#include "access/AccountDatabase.h"
#include "tests/support/DbTestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::access;
using namespace kv::testing;

namespace {

const QStringList kSchema = {
    R"(CREATE TABLE users (ID INTEGER PRIMARY KEY AUTOINCREMENT, login TEXT COLLATE NOCASE UNIQUE, password TEXT, enabled BOOLEAN NOT NULL DEFAULT 0, read BOOLEAN NOT NULL DEFAULT 0, write BOOLEAN NOT NULL DEFAULT 0, "delete" BOOLEAN NOT NULL DEFAULT 0, browse BOOLEAN NOT NULL DEFAULT 0, manage BOOLEAN NOT NULL DEFAULT 0, rootdir TEXT))",
    R"(CREATE TABLE anonymous (enabled BOOLEAN NOT NULL DEFAULT 0, read BOOLEAN NOT NULL DEFAULT 1, write BOOLEAN NOT NULL DEFAULT 0, "delete" BOOLEAN NOT NULL DEFAULT 0, browse BOOLEAN NOT NULL DEFAULT 1, manage BOOLEAN NOT NULL DEFAULT 0, rootdir TEXT))",
    R"(CREATE TABLE settings (ip TEXT, port TEXT, rootdir TEXT, start BOOLEAN NOT NULL DEFAULT 0, timeout TEXT, log BOOLEAN NOT NULL DEFAULT 1, IPok BOOLEAN NOT NULL DEFAULT 0, IPko BOOLEAN NOT NULL DEFAULT 0, debugmode TEXT, resolvelinks TEXT, datalingertime TEXT, minimized TEXT))",
    R"(CREATE TABLE IPok (IP TEXT))",
    R"(CREATE TABLE IPko (IP TEXT))",
    R"(CREATE TABLE virtualdirs (name TEXT, source TEXT, destination TEXT, user INTEGER))",
};

QStringList schemaWithout(const QString& table) {
    QStringList out;
    for (const QString& s : kSchema)
        if (!s.startsWith(QStringLiteral("CREATE TABLE %1 ").arg(table)))
            out.append(s);
    return out;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestAccountDatabase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createsTheSchemaAndTheDefaultRows() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("accounts.dat"));
        {
            AccountDatabase db(path);
            QVERIFY2(db.open(), qPrintable(db.problem()));
            QVERIFY(db.isOpen());
            QVERIFY(!db.isReadOnly());
            QVERIFY(db.problem().isEmpty());
        }
        QCOMPARE(texts(column(path, "SELECT sql FROM sqlite_master WHERE type='table' AND "
                                    "name <> 'sqlite_sequence' ORDER BY rowid")),
                 kSchema);
        QCOMPARE(texts(column(path, "SELECT ip || '|' || port || '|' || rootdir || '|' || start || "
                                    "'|' || timeout || '|' || log || '|' || IPok || '|' || IPko || "
                                    "'|' || debugmode || '|' || resolvelinks || '|' || "
                                    "datalingertime || '|' || minimized FROM settings")),
                 QStringList{"Default|21||0|180|1|0|0|0|1|0|0"});
        QCOMPARE(texts(column(path, "SELECT enabled || read || write || \"delete\" || browse || "
                                    "manage || '|' || ifnull(rootdir, '') FROM anonymous")),
                 QStringList{"010010|"});
        QCOMPARE(column(path, "SELECT count(*) FROM users").value(0).toInt(), 0);
        // Only the finished file is left in the folder, no temporary or journal file.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"accounts.dat"});

        // A second open finds the file and leaves it as it is.
        const QByteArray before = fileHash(path);
        AccountDatabase again(path);
        QVERIFY(again.open());
        QCOMPARE(fileHash(path), before);
    }

    void acceptsAFileMadeByAnotherProgramAsItIs_data() {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<int>("users");
        QTest::addColumn<int>("settingsRows");

        QTest::newRow("schema with rows")
            << (kSchema +
                QStringList{"INSERT INTO settings (ip, port) VALUES ('127.0.0.1', '2121')",
                            "INSERT INTO anonymous (enabled) VALUES (1)",
                            "INSERT INTO users (login, password) VALUES ('bob', 'x')",
                            "INSERT INTO users (login, password) VALUES ('amy', 'y')"})
            << 2 << 1;
        QTest::newRow("schema without the single rows") << kSchema << 0 << 0;
        QTest::newRow("extra table and field")
            << (kSchema + QStringList{"CREATE TABLE notes (t TEXT)",
                                      "ALTER TABLE users ADD COLUMN comment TEXT",
                                      "INSERT INTO users (login) VALUES ('eve')"})
            << 1 << 0;
    }

    void acceptsAFileMadeByAnotherProgramAsItIs() {
        QFETCH(QStringList, statements);
        QFETCH(int, users);
        QFETCH(int, settingsRows);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("accounts.dat"));
        QCOMPARE(runSql(path, statements), QString());
        const QByteArray before = fileHash(path);

        {
            AccountDatabase db(path);
            QVERIFY2(db.open(), qPrintable(db.problem()));
            AccountViews views(db);
            views.openAll();
            QCOMPARE(views.Data1().RecordCount(), users);
            QCOMPARE(views.Data2().RecordCount(), settingsRows);
        }
        QCOMPARE(fileHash(path), before);
    }

    void neverTouchesAFileThatIsNotOurs_data() {
        QTest::addColumn<QByteArray>("bytes");       // the file, when given as bytes
        QTest::addColumn<QStringList>("statements"); // or made with these statements
        QTest::addColumn<QString>("expectedReason");
        QTest::addColumn<qint64>("damageAt"); // offset of a page overwritten with noise, or -1

        const auto row = [](const char* name, const QByteArray& bytes,
                            const QStringList& statements, const QString& reason,
                            qint64 damageAt = -1) {
            QTest::newRow(name) << bytes << statements << reason << damageAt;
        };
        const QString notADatabase = "il file non è un database valido.";
        row("text file", "login=bob\r\npassword=x\r\n", {}, notADatabase);
        row("empty file", "", {}, "manca la tabella users.");
        row("sqlite header only",
            QByteArray("SQLite format 3\0", 16).append(QByteArray(84, '\x01')), {}, notADatabase);
        row("table missing", {}, schemaWithout("virtualdirs"), "manca la tabella virtualdirs.");
        row("field missing", {}, schemaWithout("IPko") << "CREATE TABLE IPko (address TEXT)",
            "nella tabella IPko manca il campo IP.");
        row("users is a view", {},
            schemaWithout("users")
                << "CREATE VIEW users AS SELECT 1 AS ID, '' AS login, '' AS password, 0 AS "
                   "enabled, 0 "
                   "AS read, 0 AS write, 0 AS \"delete\", 0 AS browse, 0 AS manage, '' AS rootdir",
            "manca la tabella users.");
        QStringList manyUsers = kSchema;
        manyUsers.append("BEGIN");
        for (int i = 0; i < 300; ++i)
            manyUsers.append(QStringLiteral("INSERT INTO users (login, password) VALUES "
                                            "('user%1', '%2')")
                                 .arg(i)
                                 .arg(QString(40, QLatin1Char('p'))));
        manyUsers.append("COMMIT");
        row("damaged page", {}, manyUsers, "il file è danneggiato.", 4096 * 8);
    }

    void neverTouchesAFileThatIsNotOurs() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, statements);
        QFETCH(QString, expectedReason);
        QFETCH(qint64, damageAt);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("accounts.dat"));
        if (statements.isEmpty())
            writeBytes(path, bytes);
        else
            QCOMPARE(runSql(path, statements), QString());
        if (damageAt >= 0) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > damageAt + 4096);
            QVERIFY(file.seek(damageAt));
            file.write(QByteArray(4096, '\x5a'));
        }
        const QByteArray before = fileHash(path);
        const qint64 sizeBefore = QFileInfo(path).size();

        {
            AccountDatabase db(path);
            QVERIFY(!db.open());
            QVERIFY(!db.isOpen());
            QCOMPARE(db.problem(),
                     QStringLiteral("Impossibile aprire il database degli account %1: %2")
                         .arg(QDir::toNativeSeparators(path), expectedReason));
            // The views come up empty on a still valid connection.
            QVERIFY(db.connection().isValid());
            AccountViews views(db);
            views.openAll();
            QCOMPARE(views.Data1().RecordCount(), 0);
            QCOMPARE(views.Data2().RecordCount(), 0);
            QVERIFY(views.Data1().BOF() && views.Data1().AtEOF());
            QCOMPARE(views.Data2().Field("port"), QString());
            // Saving anything fails instead of reaching the file.
            QVERIFY(!views.Data1().AddNew() || !views.Data1().Update());
            views.commitAll();
        }
        QCOMPARE(QFileInfo(path).size(), sizeBefore);
        QCOMPARE(fileHash(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"accounts.dat"});
    }

    void reportsWhereNoFileCanBeCreated() {
        QTemporaryDir dir;
        {
            const QString path = dir.filePath(QStringLiteral("missing/accounts.dat"));
            AccountDatabase db(path);
            QVERIFY(!db.open());
            QCOMPARE(db.problem(),
                     QStringLiteral("Impossibile creare il database degli account %1: la cartella "
                                    "non esiste.")
                         .arg(QDir::toNativeSeparators(path)));
            QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
        }
        {
            // A folder where the file should be.
            QVERIFY(QDir(dir.path()).mkdir("accounts.dat"));
            AccountDatabase db(dir.filePath("accounts.dat"));
            QVERIFY(!db.open());
            QVERIFY(db.problem().endsWith("il percorso indica una cartella."));
            QVERIFY(QFileInfo(dir.filePath("accounts.dat")).isDir());
        }
        {
            // A dangling link is not replaced by a new file.
            const QString link = dir.filePath("link.dat");
            QVERIFY(QFile::link(dir.filePath("nowhere.dat"), link));
            AccountDatabase db(link);
            QVERIFY(!db.open());
            QVERIFY(db.problem().contains(QDir::toNativeSeparators(link)));
            QVERIFY(!QFileInfo::exists(dir.filePath("nowhere.dat")));
        }
    }

    void recoversFromAnInterruptedSave() {
        QTemporaryDir dir;
        const QString live = dir.filePath("live.dat");
        QStringList statements = kSchema + QStringList{"BEGIN"};
        for (int i = 0; i < 500; ++i)
            statements.append(QStringLiteral("INSERT INTO users (login, password) VALUES "
                                             "('user%1', 'saved')")
                                  .arg(i));
        statements.append("COMMIT");
        QCOMPARE(runSql(live, statements), QString());

        // Freeze the file and its journal in the middle of a save, as a crash would.
        const QString crashed = dir.filePath("accounts.dat");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "writer");
            db.setDatabaseName(live);
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec("PRAGMA cache_size=1"));
            QVERIFY(query.exec("BEGIN"));
            QVERIFY(query.exec("UPDATE users SET password = 'half-written half-written'"));
            QVERIFY(QFileInfo::exists(live + "-journal"));
            QVERIFY(QFile::copy(live, crashed));
            QVERIFY(QFile::copy(live + "-journal", crashed + "-journal"));
            QVERIFY(query.exec("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase("writer");
        QVERIFY(fileHash(crashed) != fileHash(live));

        AccountDatabase db(crashed);
        QVERIFY2(db.open(), qPrintable(db.problem()));
        AccountViews views(db);
        views.openAll();
        QCOMPARE(views.Data1().RecordCount(), 500);
        QCOMPARE(texts(column(crashed, "SELECT DISTINCT password FROM users")),
                 QStringList{"saved"});
        QVERIFY(!QFileInfo::exists(crashed + "-journal"));
    }

    void readOnlyPlacesOpenTheFileReadOnly() {
        if (!permissionsApply())
            QSKIP("file permissions do not apply to the superuser");
        QTemporaryDir dir;
        const QString folder = dir.filePath("ro");
        QVERIFY(QDir(dir.path()).mkdir("ro"));
        const QString path = folder + "/accounts.dat";
        QCOMPARE(runSql(path, kSchema + QStringList{"INSERT INTO users (login) VALUES ('bob')",
                                                    "INSERT INTO settings (port) VALUES ('21')"}),
                 QString());
        const QByteArray before = fileHash(path);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        {
            AccountDatabase db(path);
            QVERIFY(db.open());
            QVERIFY(db.isReadOnly());
            QVERIFY(db.problem().contains(QStringLiteral("sola lettura")));
            AccountViews views(db);
            views.openAll();
            QCOMPARE(views.Data1().Field("login"), QStringLiteral("bob"));
            QSignalSpy errors(&views.Data2(), &DataView::Error);
            QVERIFY(views.Data2().setField("port", "2121"));
            QVERIFY(!views.Data2().Update());
            QCOMPARE(errors.count(), 1);

            const QString locked = dir.filePath("locked.dat");
            QCOMPARE(runSql(locked, kSchema), QString());
            const QByteArray lockedBefore = fileHash(locked);
            QFile::setPermissions(locked, QFileDevice::Permissions{});
            AccountDatabase unreadable(locked);
            QVERIFY(!unreadable.open());
            QVERIFY(unreadable.problem().endsWith("il file non è leggibile."));
            QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner);
            QCOMPARE(fileHash(locked), lockedBefore);

            AccountDatabase fresh(folder + "/other.dat");
            QVERIFY(!fresh.open());
            QVERIFY(fresh.problem().endsWith("la cartella non è scrivibile."));
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(fileHash(path), before);
        QVERIFY(!QFileInfo::exists(folder + "/other.dat"));
    }

    void severalDatabasesLiveSideBySide() {
        QTemporaryDir dir;
        auto first = std::make_unique<AccountDatabase>(dir.filePath("a.dat"));
        AccountDatabase second(dir.filePath("b.dat"));
        QVERIFY(first->open());
        QVERIFY(second.open());
        QVERIFY(first->connection().connectionName() != second.connection().connectionName());
        {
            DataView users(first->connection(), "users");
            users.Refresh();
            QVERIFY(users.AddNew());
            QVERIFY(users.setField("login", "only-in-a"));
            QVERIFY(users.Update());
        }
        first.reset();
        DataView users(second.connection(), "users");
        QVERIFY(users.Refresh());
        QCOMPARE(users.RecordCount(), 0);
        QCOMPARE(column(dir.filePath("a.dat"), "SELECT login FROM users").value(0).toString(),
                 QStringLiteral("only-in-a"));
    }

    void openAllPlacesTheViewsAndCommitAllSavesEachOne() {
        QTemporaryDir dir;
        const QString path = dir.filePath("accounts.dat");
        AccountDatabase db(path);
        QVERIFY(db.open());
        QCOMPARE(runSql(path, {"INSERT INTO users (login) VALUES ('amy')",
                               "INSERT INTO users (login) VALUES ('bob')",
                               "INSERT INTO IPok VALUES ('10.0.0.1')",
                               "INSERT INTO IPok VALUES ('10.0.0.2')",
                               "INSERT INTO IPko VALUES ('10.0.0.9')"}),
                 QString());
        AccountViews views(db);
        views.openAll();
        QCOMPARE(views.Data1().RecordCount(), 2);
        QCOMPARE(views.Data1().Field("login"), QStringLiteral("amy"));
        QCOMPARE(views.Data2().Field("ip"), QStringLiteral("Default"));
        QCOMPARE(views.Data3().Field("read"), QStringLiteral("1"));
        QCOMPARE(views.DataIP(0).RecordCount(), 2);
        QCOMPARE(views.DataIP(0).Field("IP"), QStringLiteral("10.0.0.1"));
        QCOMPARE(views.DataIP(1).Field("IP"), QStringLiteral("10.0.0.9"));

        // A failing save (a repeated login) does not stop the views after it.
        QVERIFY(views.Data1().setField("login", "BOB"));
        QVERIFY(views.Data2().setField("port", "2121"));
        QVERIFY(views.Data3().setField("enabled", 1));
        QVERIFY(views.DataIP(1).setField("IP", "10.0.0.8"));
        QSignalSpy errors(&views.Data1(), &DataView::Error);
        views.commitAll();
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), kDuplicateKeyError);
        QVERIFY(views.Data1().isDirty());
        QCOMPARE(texts(column(path, "SELECT login FROM users ORDER BY ID")),
                 (QStringList{"amy", "bob"}));
        QCOMPARE(texts(column(path, "SELECT port FROM settings")), QStringList{"2121"});
        QCOMPARE(texts(column(path, "SELECT enabled FROM anonymous")), QStringList{"1"});
        QCOMPARE(texts(column(path, "SELECT IP FROM IPko")), QStringList{"10.0.0.8"});
    }
};

QTEST_GUILESS_MAIN(TestAccountDatabase)
#include "test_accountdatabase.moc"
