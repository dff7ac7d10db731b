// The options table of accounts.dat: an older file gains it and keeps every
// other byte of content, read-only and locked files are left alone, a missing
// row reads as the default, rows of unknown options survive every write, and
// pending edits reach the file only when committed.

#include "access/AccountDatabase.h"
#include "access/AccountSchema.h"
#include "tests/support/DbTestSupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace kv::access;
using namespace kv::testing;
using kv::settings::OptionCatalog;
using kv::settings::OptionDef;
using kv::settings::OptionKind;

namespace {

const QStringList kOldRows = {
    "INSERT INTO settings (ip, port, rootdir) VALUES ('127.0.0.1', '2121', '/srv')",
    "INSERT INTO anonymous (enabled) VALUES (1)",
    "INSERT INTO users (login, password, enabled) VALUES ('bob', 'x', 1), ('amy', NULL, 0)",
    "INSERT INTO IPok VALUES ('10.0.0.1')",
    "INSERT INTO IPko VALUES ('10.0.0.9')",
    "INSERT INTO virtualdirs VALUES ('v', '', '/data', 1)",
    "CREATE TABLE notes (t TEXT)",
    "INSERT INTO notes VALUES ('kept')"};

// Every table's statement and every row with its rowid, as text, but the options table's.
QStringList contentWithoutOptions(const QString& path) {
    QStringList out =
        texts(column(path, "SELECT name || ': ' || ifnull(sql, '') FROM sqlite_master "
                           "WHERE tbl_name <> 'options' ORDER BY name"));
    for (const QString& table :
         texts(column(path, "SELECT name FROM sqlite_master WHERE type = "
                            "'table' AND name <> 'options' ORDER BY name"))) {
        const QStringList fields = texts(column(
            path, QStringLiteral("SELECT 'quote(\"' || name || '\")' FROM pragma_table_info('%1')")
                      .arg(table)));
        out << table + ":"
            << texts(column(path, QStringLiteral("SELECT quote(rowid) || '|' || %1 FROM \"%2\" "
                                                 "ORDER BY rowid")
                                      .arg(fields.join(" || '|' || "), table)));
    }
    return out;
}

QString optionsStatement(const QString& path) {
    const QStringList sql =
        texts(column(path, "SELECT sql FROM sqlite_master WHERE name = 'options'"));
    return sql.isEmpty() ? QString() : sql.first();
}

// Opens the file as the program does and closes it again.
bool openOnce(const QString& path) {
    AccountDatabase db(path);
    return db.open() && db.problem().isEmpty();
}

struct OldFile {
    QTemporaryDir dir;
    QString path = dir.filePath("accounts.dat");
    OldFile() { QCOMPARE(runSql(path, schemaWithout("options") + kOldRows), QString()); }
};

} // namespace

class TestOptionsTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void anOlderFileGainsTheTableAndNothingElse() {
        OldFile f;
        const QStringList before = contentWithoutOptions(f.path);
        QVERIFY(before.join('\n').contains("bob"));
        QVERIFY(openOnce(f.path));
        QCOMPARE(optionsStatement(f.path), optionsTableStatement());
        QCOMPARE(texts(column(f.path, "SELECT count(*) FROM options")), QStringList{"0"});
        QCOMPARE(contentWithoutOptions(f.path), before);
        // Opening it again finds the table and changes nothing at all.
        const QByteArray hash = fileHash(f.path);
        QVERIFY(openOnce(f.path));
        QCOMPARE(fileHash(f.path), hash);
    }

    void aNewFileHasTheTableAndTheRowsTheCatalogGivesIt() {
        QTemporaryDir dir;
        QVERIFY(openOnce(dir.filePath("accounts.dat")));
        QCOMPARE(optionsStatement(dir.filePath("accounts.dat")), optionsTableStatement());
        QCOMPARE(
            texts(column(dir.filePath("accounts.dat"),
                         "SELECT name || '=' || value FROM options ORDER BY name")),
            (QStringList{"ban_attempts=5", "ban_minutes=10", "ban_window_minutes=10", "log_keep=5",
                         "log_max_mib=10", "max_connections=100", "max_connections_per_ip=10",
                         "passive_address=", "passive_ports=", "sftp_port=0"}));

        // A catalog of its own gives a new file its own rows.
        const OptionCatalog catalog(
            {OptionDef{"ban_attempts", OptionKind::Integer, QStringList(), 0, 100, "0", "Tentativi",
                       "5", nullptr, kv::settings::OptionStore::Options, QString()},
             OptionDef{"ban_minutes", OptionKind::Integer, QStringList(), 1, 100, "10", "Minuti",
                       std::nullopt, nullptr, kv::settings::OptionStore::Options, QString()}},
            {});
        const QString name = "kv_options_create";
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
            db.setDatabaseName(dir.filePath("other.dat"));
            QVERIFY(db.open());
            QCOMPARE(createAccountTables(db, catalog), std::nullopt);
            OptionsTable table(db, catalog);
            QCOMPARE(table.read().rows, (QMap<QString, QString>{{"ban_attempts", "5"}}));
            QCOMPARE(table.value("ban_minutes"), QString("10"));
        }
        QSqlDatabase::removeDatabase(name);
    }

    void readOnlyAndLockedFilesAreLeftAlone() {
        OldFile f;
        {
            // Another program holds a write lock: the table cannot be made now.
            LockHolder other(f.path, "BEGIN IMMEDIATE");
            QVERIFY(other.locked());
            const QByteArray hash = fileHash(f.path);
            AccountDatabase db(f.path);
            QVERIFY(db.open());
            QCOMPARE(fileHash(f.path), hash);
            AccountViews views(db);
            QCOMPARE(views.options().read().rows.size(), 0);
            QVERIFY(views.options().read().error.isEmpty());
            QCOMPARE(views.options().current().value("tls"), QString("off"));
            views.options().setPending("tls", "on");
            views.commitAll(); // fails while locked; the edit stays pending
            QVERIFY(views.options().isDirty());
            QCOMPARE(fileHash(f.path), hash);
        }
        if (!permissionsApply())
            QSKIP("file permissions do not apply to the superuser");
        QFile::setPermissions(f.path, QFile::ReadOwner);
        const QByteArray hash = fileHash(f.path);
        {
            AccountDatabase db(f.path);
            QVERIFY(db.open() && db.isReadOnly());
            OptionsTable table(db.connection());
            QCOMPARE(table.current().value("tls_session_reuse"), QString("1"));
            QVERIFY(table.write({{"tls", "on"}}).has_value());
        }
        QFile::setPermissions(f.path, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(fileHash(f.path), hash);
        QCOMPARE(optionsStatement(f.path), QString());
    }

    void rowsReadWriteAndKeepUnknownOnes() {
        OldFile f;
        QCOMPARE(runSql(f.path, {optionsTableStatement(),
                                 "INSERT INTO options VALUES ('passive_colour', 'red')",
                                 "INSERT INTO options VALUES ('tls_min_version', NULL)"}),
                 QString());
        AccountDatabase db(f.path);
        QVERIFY(db.open());
        AccountViews views(db);
        OptionsTable& table = views.options();
        // Missing and null rows read as the declared default.
        QCOMPARE(table.value("tls"), QString("off"));
        QCOMPARE(table.current().value("tls_min_version"), QString("1.2"));
        QCOMPARE(table.current().value("tls_max_version"), QString("1.3"));
        QCOMPARE(table.value("passive_colour"), QString("red"));

        QCOMPARE(table.write({{"tls", "required"}, {"tls_implicit_port", "990"}}), std::nullopt);
        table.setPending("tls_session_reuse", "0");
        QCOMPARE(table.value("tls_session_reuse"), QString("0")); // pending shows
        QCOMPARE(texts(column(f.path, "SELECT count(*) FROM options")), QStringList{"4"});
        views.commitAll();
        QVERIFY(!table.isDirty());
        QCOMPARE(texts(column(f.path, "SELECT name || '=' || ifnull(value, '<null>') FROM options "
                                      "ORDER BY name")),
                 (QStringList{"passive_colour=red", "tls=required", "tls_implicit_port=990",
                              "tls_min_version=<null>", "tls_session_reuse=0"}));
    }

    void aCheckedWriteJudgesTheRowsAsStoredWhenItWrites() {
        OldFile f;
        AccountDatabase db(f.path);
        QVERIFY(db.open());
        OptionsTable table(db.connection());
        // Another program lowers the maximum after this one has read the table.
        QCOMPARE(table.value("tls_max_version"), QString("1.3"));
        QCOMPARE(runSql(f.path, {"INSERT INTO options VALUES ('tls_max_version', '1.2')"}),
                 QString());
        const auto refusal = table.writeChecked({{"tls_min_version", "1.3"}});
        QVERIFY(refusal.has_value());
        QVERIFY2(refusal->contains("la versione minima (1.3) è più alta della massima (1.2)"),
                 qPrintable(*refusal));
        QCOMPARE(texts(column(f.path, "SELECT name FROM options")), QStringList{"tls_max_version"});

        QCOMPARE(table.writeChecked({{"tls_min_version", "1.2"}}), std::nullopt);
        QCOMPARE(table.remove("tls_max_version"), std::nullopt);
        QCOMPARE(texts(column(f.path, "SELECT name || '=' || value FROM options")),
                 QStringList{"tls_min_version=1.2"});
    }

    void anUnreadableTableIsReported() {
        OldFile f;
        QCOMPARE(runSql(f.path, {"CREATE TABLE options (key TEXT, data TEXT)"}), QString());
        AccountDatabase db(f.path);
        QVERIFY(db.open());
        const OptionRows rows = OptionsTable(db.connection()).read();
        QVERIFY2(rows.error.startsWith("la tabella options di accounts.dat non è leggibile"),
                 qPrintable(rows.error));
    }
};

QTEST_GUILESS_MAIN(TestOptionsTable)
#include "test_optionstable.moc"
