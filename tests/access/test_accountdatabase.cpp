// AccountDatabase and AccountViews: creating accounts.dat, accepting files made
// by other programs, refusing (and never touching) files that are not ours,
// and never waiting long for a file another program holds locked. Its options
// table: an older file gains it and keeps every other byte of content,
// read-only and locked files are left alone, a missing row reads as the
// default, rows of unknown options survive every write, and pending edits
// reach the file only when committed.

#include "access/AccountDatabase.h"
#include "access/AccountSchema.h"
#include "settings/PortPrivilege.h"
#include "tests/support/DbTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace kv::access;
using namespace kv::testing;
using kv::settings::OptionCatalog;
using kv::settings::OptionDef;
using kv::settings::OptionKind;

namespace {

QStringList manyUsers(int count, const QString& password) {
    QStringList out = accountSchema() << "BEGIN";
    for (int i = 0; i < count; ++i)
        out << QStringLiteral("INSERT INTO users (login, password) VALUES ('user%1', '%2')")
                   .arg(i)
                   .arg(password);
    return out << "COMMIT";
}

// A new accounts.dat holding `rows` too, opened, with the window's views read.
struct Opened {
    QTemporaryDir dir;
    QString path = dir.filePath("accounts.dat");
    AccountDatabase db{path};
    std::unique_ptr<AccountViews> views;

    explicit Opened(const QStringList& rows = {}) {
        QVERIFY(db.open());
        QCOMPARE(runSql(path, rows), QString());
        views = std::make_unique<AccountViews>(db);
        views->openAll();
    }
};

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
    return texts(column(path, "SELECT sql FROM sqlite_master WHERE name = 'options'")).value(0);
}

struct OldFile {
    QTemporaryDir dir;
    QString path = dir.filePath("accounts.dat");
    OldFile() { QCOMPARE(runSql(path, schemaWithout("options") + kOldRows), QString()); }
};

} // namespace

class TestAccountDatabase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createsTheSchemaAndTheDefaultRows() {
        Opened f;
        QVERIFY(f.db.isOpen() && !f.db.isReadOnly() && f.db.problem().isEmpty());
        QVERIFY(f.db.createdFile());
        // Port 21 for whoever may listen there, as the start will judge it.
        const QString port = kv::settings::mayBindPort(21) ? "21" : "2121";
        QCOMPARE(texts(column(f.path, "SELECT sql FROM sqlite_master WHERE type IN ('table', "
                                      "'trigger') AND name <> 'sqlite_sequence' ORDER BY rowid")),
                 accountSchema());
        QCOMPARE(
            texts(column(f.path, "SELECT ip || '|' || port || '|' || rootdir || '|' || start || "
                                 "'|' || timeout || '|' || log || '|' || IPok || '|' || IPko || "
                                 "'|' || debugmode || '|' || resolvelinks || '|' || "
                                 "datalingertime || '|' || minimized FROM settings")),
            QStringList{"Default|" + port + "||0|180|1|0|0|0|1|0|0"});
        QCOMPARE(texts(column(f.path, "SELECT enabled || read || write || \"delete\" || browse || "
                                      "manage || '|' || ifnull(rootdir, '') FROM anonymous")),
                 QStringList{"010010|"});
        QCOMPARE(texts(column(f.path, "SELECT count(*) FROM users")), QStringList{"0"});
        QCOMPARE(
            texts(column(f.path, "SELECT name || '=' || value FROM options ORDER BY name")),
            (QStringList{"ban_attempts=5", "ban_minutes=10", "ban_window_minutes=10", "log_keep=5",
                         "log_max_mib=10", "max_connections=100", "max_connections_per_ip=32",
                         "passive_address=", "passive_ports=", "sftp_port=0"}));
        // Only the finished file is left in the folder, no temporary or journal file.
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"accounts.dat"});
    }

    // The program's choice of default root reaches a new file only: an
    // existing one keeps the root it has.
    void newValuesReachOnlyANewFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("accounts.dat");
        {
            AccountDatabase db(path, AccountDatabase::kShortBusyWaitMs, {"/srv/condivisa"});
            QVERIFY(db.open() && db.createdFile());
        }
        QCOMPARE(texts(column(path, "SELECT rootdir FROM settings")),
                 QStringList{"/srv/condivisa"});
        AccountDatabase again(path, AccountDatabase::kShortBusyWaitMs, {"/srv/altra"});
        QVERIFY(again.open() && !again.createdFile());
        QCOMPARE(texts(column(path, "SELECT rootdir FROM settings")),
                 QStringList{"/srv/condivisa"});
    }

    // The file holds password hashes: private to its owner, except in a
    // folder shared with a group (set-group-ID), where the group's members
    // administer it too. The umask has no say either way.
    void newFileModeFollowsTheFolder_data() {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("umask");
        QTest::addColumn<int>("fileMode");
        QTest::newRow("private folder") << 0700 << 0022 << 0600;
        QTest::newRow("open folder, open umask") << 0755 << 0000 << 0600;
        QTest::newRow("group folder, strict umask") << 02770 << 0077 << 0660;
    }

    void newFileModeFollowsTheFolder() {
        QFETCH(int, folderMode);
        QFETCH(int, umask);
        QTemporaryDir dir;
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), mode_t(folderMode)), 0);
        const mode_t previous = ::umask(mode_t(umask));
        AccountDatabase db(dir.filePath("accounts.dat"));
        const bool opened = db.open();
        ::umask(previous);
        QVERIFY2(opened, qPrintable(db.problem()));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath("accounts.dat")).constData(), &info), 0);
        QTEST(int(info.st_mode & 07777), "fileMode");
    }

    // Whatever a file with the options table holds, open() never changes it:
    // it is accepted as it is, or refused with the reason. (An older file
    // gains the options table; OptionsTable's test shows that nothing else changes.)
    void existingFileIsNeverChanged_data() {
        QTest::addColumn<QByteArray>("bytes");       // the file, when given as bytes
        QTest::addColumn<QStringList>("statements"); // or made with these statements
        QTest::addColumn<qint64>("damageAt"); // offset of a page overwritten with noise, or -1
        QTest::addColumn<QString>("reason");  // "" when the file is accepted
        QTest::addColumn<int>("users");
        QTest::addColumn<int>("settingsRows");
        const auto row = [](const char* name, const QByteArray& bytes, const QStringList& sql,
                            const QString& reason, int users = 0, int settings = 0,
                            qint64 damageAt = -1) {
            QTest::newRow(name) << bytes << sql << damageAt << reason << users << settings;
        };
        const QStringList schema = accountSchema();
        row("made by this program", {},
            schema + QStringList{"INSERT INTO settings (ip, port) VALUES ('127.0.0.1', '2121')",
                                 "INSERT INTO users (login, password) VALUES ('bob', 'x')",
                                 "INSERT INTO users (login, password) VALUES ('amy', 'y')"},
            "", 2, 1);
        row("schema without the single rows", {}, schema, "");
        row("extra table and field", {},
            schema + QStringList{"CREATE TABLE notes (t TEXT)",
                                 "ALTER TABLE users ADD COLUMN comment TEXT",
                                 "INSERT INTO users (login) VALUES ('eve')"},
            "", 1);
        const QString notADatabase = "il file non è un database valido.";
        row("text file", "login=bob\r\npassword=x\r\n", {}, notADatabase);
        row("empty file", "", {}, "manca la tabella users.");
        row("sqlite header only",
            QByteArray("SQLite format 3\0", 16).append(QByteArray(84, '\x01')), {}, notADatabase);
        row("table missing", {}, schemaWithout("virtualdirs"), "manca la tabella virtualdirs.");
        row("field missing", {}, schemaWithout("IPko") << "CREATE TABLE IPko (address TEXT)",
            "nella tabella IPko manca il campo IP.");
        row("users is a view", {}, schemaWithout("users") << "CREATE VIEW users AS SELECT 1 AS ID",
            "manca la tabella users.");
        row("damaged page", {}, manyUsers(300, QString(40, u'p')), "il file è danneggiato.", 0, 0,
            4096 * 8);
    }
    void existingFileIsNeverChanged() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, statements);
        QFETCH(qint64, damageAt);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("accounts.dat"));
        QFile file(path);
        if (statements.isEmpty())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        else
            QCOMPARE(runSql(path, statements), QString());
        file.close();
        if (damageAt >= 0) {
            QVERIFY(file.open(QIODevice::ReadWrite) && file.size() > damageAt + 4096);
            QVERIFY(file.seek(damageAt) && file.write(QByteArray(4096, '\x5a')) == 4096);
            file.close();
        }
        const QByteArray before = fileHash(path);
        {
            AccountDatabase db(path);
            QCOMPARE(db.open(), reason.isEmpty());
            const QString opening = "Impossibile aprire il database degli account %1: %2";
            QCOMPARE(db.problem(),
                     reason.isEmpty() ? "" : opening.arg(QDir::toNativeSeparators(path), reason));
            // A refused file leaves the views empty on a still valid connection.
            AccountViews views(db);
            views.openAll();
            QTEST(views.Data1().RecordCount(), "users");
            QTEST(views.Data2().RecordCount(), "settingsRows");
            if (!reason.isEmpty())
                QVERIFY(!views.Data1().AddNew() || !views.Data1().Update());
            views.commitAll();
        }
        QCOMPARE(fileHash(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"accounts.dat"});
    }

    void reportsWhereNoFileCanBeCreated() {
        QTemporaryDir dir;
        const QString missing = dir.filePath("missing/accounts.dat");
        AccountDatabase inMissingFolder(missing);
        QVERIFY(!inMissingFolder.open());
        QCOMPARE(inMissingFolder.problem(), "Impossibile creare il database degli account " +
                                                QDir::toNativeSeparators(missing) +
                                                ": la cartella non esiste.");
        QVERIFY(QDir(dir.path()).mkdir("accounts.dat"));
        AccountDatabase onFolder(dir.filePath("accounts.dat"));
        QVERIFY(!onFolder.open());
        QVERIFY(onFolder.problem().endsWith("il percorso indica una cartella."));
        // A dangling link is not replaced by a new file.
        QVERIFY(QFile::link(dir.filePath("nowhere.dat"), dir.filePath("link.dat")));
        AccountDatabase onLink(dir.filePath("link.dat"));
        QVERIFY(!onLink.open());
        QVERIFY(!QFileInfo::exists(dir.filePath("nowhere.dat")));
    }

    void recoversFromAnInterruptedSave() {
        QTemporaryDir dir;
        const QString live = dir.filePath("live.dat");
        QCOMPARE(runSql(live, manyUsers(500, "saved")), QString());
        // Freeze the file and its journal in the middle of a save, as a crash would.
        const QString crashed = dir.filePath("accounts.dat");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "writer");
            db.setDatabaseName(live);
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec("PRAGMA cache_size=1") && query.exec("BEGIN"));
            QVERIFY(query.exec("UPDATE users SET password = 'half-written half-written'"));
            QVERIFY(QFile::copy(live, crashed));
            QVERIFY(QFile::copy(live + "-journal", crashed + "-journal"));
            QVERIFY(query.exec("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase("writer");
        QVERIFY(fileHash(crashed) != fileHash(live));

        AccountDatabase db(crashed);
        QVERIFY2(db.open(), qPrintable(db.problem()));
        QCOMPARE(
            texts(column(crashed, "SELECT count(*) || group_concat(DISTINCT password) FROM users")),
            QStringList{"500saved"});
        QVERIFY(!QFileInfo::exists(crashed + "-journal"));
    }

    void readOnlyPlacesOpenTheFileReadOnly() {
        if (!permissionsApply())
            QSKIP("file permissions do not apply to the superuser");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("ro"));
        const QString path = dir.filePath("ro/accounts.dat");
        QCOMPARE(runSql(path, accountSchema() << "INSERT INTO settings (port) VALUES ('21')"),
                 QString());
        const QByteArray before = fileHash(path);
        QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner);
        {
            AccountDatabase db(path);
            QVERIFY(db.open() && db.isReadOnly() && db.problem().contains("sola lettura"));
            AccountViews views(db);
            views.openAll();
            QSignalSpy errors(&views.Data2(), &DataView::Error);
            QVERIFY(views.Data2().setField("port", "2121") && !views.Data2().Update());
            QCOMPARE(errors.count(), 1);
            AccountDatabase fresh(dir.filePath("ro/other.dat"));
            QVERIFY(!fresh.open());
            QVERIFY(fresh.problem().endsWith("la cartella non è scrivibile."));
        }
        QFile::setPermissions(dir.filePath("ro"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(fileHash(path), before);
    }

    void openAllPlacesTheViewsAndCommitAllSavesEachOne() {
        Opened f({"INSERT INTO users (login) VALUES ('amy'), ('bob')",
                  "INSERT INTO IPok VALUES ('10.0.0.1')", "INSERT INTO IPko VALUES ('10.0.0.9')"});
        AccountViews& views = *f.views;
        QCOMPARE(QStringList({views.Data1().Field("login"), views.Data2().Field("ip"),
                              views.Data3().Field("read"), views.DataIP(0).Field("IP"),
                              views.DataIP(1).Field("IP")}),
                 QStringList({"amy", "Default", "1", "10.0.0.1", "10.0.0.9"}));

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
        QCOMPARE(texts(column(f.path, "SELECT group_concat(login) FROM users")),
                 QStringList{"amy,bob"});
        QCOMPARE(
            texts(column(f.path, "SELECT port || '|' || enabled || '|' || IPko.IP FROM settings, "
                                 "anonymous, IPko")),
            QStringList{"2121|1|10.0.0.8"});
    }

    // Another program holding accounts.dat locked (sqlite3 with BEGIN IMMEDIATE
    // open): a save fails within the short busy wait, not SQLite's 5 s, says
    // so, and keeps the change pending until it can be saved.
    void lockedFileFailsFastAndKeepsTheChange() {
        Opened f; // a port no new file starts with, so the change is one

        AccountViews& views = *f.views;
        QSignalSpy errors(&views.Data2(), &DataView::Error);
        QElapsedTimer timer;
        {
            LockHolder other(f.path, QStringLiteral("BEGIN IMMEDIATE"));
            QVERIFY(other.locked());
            QVERIFY(views.Data2().setField("port", "2200"));
            timer.start();
            QVERIFY(!views.Data2().Update());
            QCOMPARE_LT(timer.elapsed(), 1500);
            QCOMPARE(errors.count(), 1);
            QVERIFY(isBusyError(errors.at(0).at(0).toInt()));
            QVERIFY(errors.at(0).at(1).toString().contains("bloccato da un altro programma"));
            QVERIFY(views.Data2().isDirty());
            QCOMPARE(views.Data2().Field("port"), QStringLiteral("2200"));
        }
        QVERIFY(views.Data2().Update());
        QCOMPARE(texts(column(f.path, "SELECT port FROM settings")), QStringList{"2200"});

        // Opening a file held exclusively refuses it quickly and leaves it alone.
        LockHolder exclusive(f.path, QStringLiteral("BEGIN EXCLUSIVE"));
        QVERIFY(exclusive.locked());
        AccountDatabase again(f.path);
        timer.start();
        QVERIFY(!again.open());
        QCOMPARE_LT(timer.elapsed(), 1500);
        QVERIFY(again.problem().endsWith("il file è bloccato da un altro programma."));
    }

    void anOlderFileGainsTheTableAndNothingElse() {
        OldFile f;
        const QStringList before = contentWithoutOptions(f.path);
        QVERIFY(before.join('\n').contains("bob"));
        QVERIFY(AccountDatabase(f.path).open()); // and closed again
        QCOMPARE(optionsStatement(f.path), optionsTableStatement());
        QCOMPARE(texts(column(f.path, "SELECT count(*) FROM options")), QStringList{"0"});
        QCOMPARE(contentWithoutOptions(f.path), before);
        // Opening it again finds the table and changes nothing at all.
        const QByteArray hash = fileHash(f.path);
        QVERIFY(AccountDatabase(f.path).open()); // and closed again
        QCOMPARE(fileHash(f.path), hash);
    }

    // A file whose action rules predate their triggers gains them when opened
    // (and nothing else); a file without the actions table gains none.
    void rulesGainTheTriggersThatKeepThemWithTheirAccount_data() {
        QTest::addColumn<bool>("withActions");
        QTest::newRow("with the actions table") << true;
        QTest::newRow("without it") << false;
    }
    void rulesGainTheTriggersThatKeepThemWithTheirAccount() {
        QFETCH(bool, withActions);
        QTemporaryDir dir;
        const QString path = dir.filePath("accounts.dat");
        QStringList older = withActions ? accountSchema() : schemaWithout("actions");
        older.removeIf([](const QString& s) { return s.startsWith("CREATE TRIGGER"); });
        QCOMPARE(runSql(path, older + kOldRows), QString());
        const QString triggers = "SELECT name FROM sqlite_master WHERE type = 'trigger' ORDER BY "
                                 "rowid";
        QVERIFY(column(path, triggers).isEmpty());
        QVERIFY(AccountDatabase(path).open());
        const QStringList both{"actions_follow_rename", "actions_follow_delete"};
        QCOMPARE(texts(column(path, triggers)), withActions ? both : QStringList());
        QCOMPARE(texts(column(path, "SELECT sql FROM sqlite_master WHERE type = 'trigger'")),
                 withActions ? accountSchema().filter("CREATE TRIGGER actions_") : QStringList{});
        const QByteArray hash = fileHash(path);
        QVERIFY(AccountDatabase(path).open()); // and closed again
        QCOMPARE(fileHash(path), hash);
        if (!withActions)
            return;
        // Another program dropped the table: the triggers, which would make
        // every change of an account fail, go with it at the next opening.
        QCOMPARE(runSql(path, {"DROP TABLE actions"}), QString());
        QVERIFY(runSql(path, {"DELETE FROM users"}).contains("no such table"));
        QVERIFY(AccountDatabase(path).open());
        QVERIFY(column(path, triggers).isEmpty());
        QCOMPARE(runSql(path, {"DELETE FROM users"}), QString());
    }

    // Renaming an account, by any program, takes its rules along (compared
    // ignoring case); deleting it deletes them. Rules for "*" and for other
    // accounts stay as they are, and so do the rules of a login another row
    // still holds.
    void triggersCarryTheRulesOfAnAccount() {
        Opened f;
        QCOMPARE(runSql(f.path,
                        {"INSERT INTO users (ID, login) VALUES (1, 'bob'), (2, 'amy')",
                         "INSERT INTO actions (event, user, kind, target) VALUES ('upload', 'BOB', "
                         "'run', '/a'), ('upload', '*', 'run', '/b'), ('upload', 'amy', 'run', "
                         "'/c'), ('delete', 'bob', 'run', '/d')",
                         "UPDATE users SET login = 'roberto' WHERE ID = 1"}),
                 QString());
        const QString rules = "SELECT user || ' ' || target FROM actions ORDER BY id";
        QCOMPARE(texts(column(f.path, rules)),
                 (QStringList{"roberto /a", "* /b", "amy /c", "roberto /d"}));
        // Renamed onto nothing or onto "*": the rules keep their login.
        QCOMPARE(runSql(f.path, {"UPDATE users SET login = '*' WHERE ID = 2",
                                 "UPDATE users SET login = 'amy' WHERE ID = 2",
                                 "UPDATE users SET login = '' WHERE ID = 2",
                                 "UPDATE users SET login = 'amy' WHERE ID = 2"}),
                 QString());
        QCOMPARE(texts(column(f.path, rules)),
                 (QStringList{"roberto /a", "* /b", "amy /c", "roberto /d"}));
        QCOMPARE(runSql(f.path, {"DELETE FROM users WHERE ID = 1"}), QString());
        QCOMPARE(texts(column(f.path, rules)), (QStringList{"* /b", "amy /c"}));
    }

    void aCatalogOfItsOwnGivesANewFileItsRows() {
        QTemporaryDir dir;
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
            QVERIFY(views.options().read().rows.isEmpty() &&
                    views.options().read().error.isEmpty());
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

QTEST_GUILESS_MAIN(TestAccountDatabase)
#include "test_accountdatabase.moc"
