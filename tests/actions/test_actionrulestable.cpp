// The actions table of accounts.dat: an older file without it reads as no
// rules and is left as it was until the first rule, a refused rule writes
// nothing, a row another program wrote wrong is never acted on, and another
// program's changes are seen by the next read. The stamps that let rules
// read from the file be kept: only the same file, untouched, and settled well
// before it was stamped, proves unchanged.

#include "access/AccountSchema.h"
#include "access/FileStamp.h"
#include "actions/ActionRulesTable.h"
#include "tests/support/DbTestSupport.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace kv::actions;
using namespace kv::testing;
using kv::access::FileStamp;
using namespace std::chrono_literals;

namespace {

// A connection of its own to a new file, or to `file` as another program's.
struct TempDb {
    QTemporaryDir dir;
    QString path;
    QString name = QStringLiteral("rules_%1").arg(quintptr(this));
    QSqlDatabase db;
    explicit TempDb(const QString& file = {})
        : path(file.isEmpty() ? dir.filePath("accounts.dat") : file) {
        db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path);
        db.open();
    }
    ~TempDb() {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
};

ActionRule rule(const QString& event, const QString& target) {
    ActionRule r;
    r.event = event;
    r.target = target;
    return r;
}

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Well after anything the test does, so that the file counts as settled.
FileStamp::Clock::time_point later() {
    return FileStamp::Clock::now() + FileStamp::kSettleTime + 10s;
}

} // namespace

class TestActionRulesTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void anOlderFileGainsTheTableWithItsFirstRule() {
        TempDb f;
        QVERIFY(f.db.isOpen());
        QSqlQuery(f.db).exec("CREATE TABLE users (ID INTEGER PRIMARY KEY, login TEXT)");
        const QByteArray before = fileHash(f.path);
        ActionRulesTable table(f.db);
        const RuleList none = table.read();
        QVERIFY2(none.error.isEmpty(), qPrintable(none.error));
        QVERIFY(none.rules.isEmpty());
        // A refused rule leaves the file as it was.
        QCOMPARE(std::get<QString>(table.add(rule("nothing", "/bin/true"))).left(18),
                 QString("Evento sconosciuto"));
        QCOMPARE(fileHash(f.path), before);
        const auto first = table.add(rule("upload", " /bin/echo \"a b\" "));
        QVERIFY(std::holds_alternative<qint64>(first));
        const auto second = table.add(rule("ban", "/bin/true"));
        QCOMPARE(std::get<qint64>(second), std::get<qint64>(first) + 1);
        QCOMPARE(texts(column(f.path, "SELECT sql FROM sqlite_master WHERE name = 'actions'")),
                 QStringList{kv::access::actionsTableStatement()});
        const RuleList rules = table.read();
        QCOMPARE(rules.rules.size(), 2);
        const ActionRule& upload = rules.rules[0];
        QCOMPARE(QStringList({upload.target, upload.user, upload.path, rules.rules[1].event}),
                 QStringList({"/bin/echo \"a b\"", "*", "", "ban"}));
        QVERIFY(upload.enabled);
    }

    void changesNameTheirRule() {
        TempDb f;
        ActionRulesTable table(f.db);
        const qint64 id = std::get<qint64>(table.add(rule("upload", "/bin/true")));
        QCOMPARE(table.setEnabled(id, false), std::nullopt);
        QVERIFY(!table.read().rules.first().enabled);
        ActionRule changed = table.read().rules.first();
        changed.kind = ActionKind::Mail;
        changed.target = "ufficio@example.org";
        changed.path = "/ordini/**";
        QCOMPARE(table.update(changed), std::nullopt);
        QCOMPARE(table.read().rules.first().target, QString("ufficio@example.org"));
        QCOMPARE(table.read().rules.first().kind, ActionKind::Mail);
        changed.target = "not an address";
        QCOMPARE(table.update(changed),
                 std::optional<QString>("Indirizzo e-mail non valido: \"not an address\""));
        QCOMPARE(table.read().rules.first().target, QString("ufficio@example.org"));
        const std::optional<QString> missing("Nessuna azione con numero 99");
        QCOMPARE(table.remove(99), missing);
        QCOMPARE(table.setEnabled(99, true), missing);
        changed.id = 99;
        changed.target = "a@b.it";
        QCOMPARE(table.update(changed), missing);
        QCOMPARE(table.remove(id), std::nullopt);
        QVERIFY(table.read().rules.isEmpty());
    }

    void aRowWrittenWrongIsKeptButOff() {
        TempDb f;
        ActionRulesTable table(f.db);
        QVERIFY(std::holds_alternative<qint64>(table.add(rule("upload", "/bin/true"))));
        QSqlQuery q(f.db);
        QVERIFY(q.exec("INSERT INTO actions (event, kind, target) VALUES ('upload', 'shell', 'x'), "
                       "('explode', 'run', 'x'), ('upload', 'run', '')"));
        const RuleList rules = table.read();
        QCOMPARE(rules.rules.size(), 4);
        QVERIFY(rules.rules[0].enabled);
        for (int i = 1; i < 4; ++i)
            QVERIFY2(!rules.rules[i].enabled, qPrintable(rules.rules[i].event));
    }

    // The server reads the rules again on every transfer while the window or
    // the command line change them through their own connections.
    void anotherProgramsChangesAreReadAndNeverBlocked() {
        TempDb server;
        ActionRulesTable serverRules(server.db);
        TempDb other(server.path);
        ActionRulesTable otherRules(other.db);
        QVERIFY(serverRules.read().rules.isEmpty());
        const qint64 id = std::get<qint64>(otherRules.add(rule("upload", "/bin/true")));
        QCOMPARE(serverRules.read().rules.size(), 1);
        // A finished read keeps no lock: the other program writes at once.
        QSqlQuery(other.db).exec("PRAGMA busy_timeout = 0");
        QCOMPARE(otherRules.setEnabled(id, false), std::nullopt);
        QVERIFY(!serverRules.read().rules.first().enabled);
        QCOMPARE(otherRules.remove(id), std::nullopt);
        QVERIFY(serverRules.read().rules.isEmpty());
    }

    // Only a settled, untouched file proves unchanged: not one written to
    // (another size, or the same size with its time set back), replaced,
    // removed, or changed just before the stamp.
    void stampsSeeAnyChangeOrDoubt() {
        for (const QString change : {"none", "grow", "sameSize", "replace", "remove", "recent"}) {
            QTemporaryDir dir;
            const QString path = dir.filePath("accounts.dat");
            QVERIFY(write(path, "one"));
            // A stamp taken right after the change cannot tell a change in the same
            // tick of the file system's clock from none.
            const FileStamp first =
                FileStamp::of(path, change == "recent" ? FileStamp::Clock::now() : later());
            if (change == "grow") {
                QVERIFY(write(path, "one two"));
            } else if (change == "sameSize") {
                QVERIFY(write(path, "two"));
                const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
                QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
            } else if (change == "replace") {
                QVERIFY(write(dir.filePath("new"), "one"));
                QVERIFY(::rename(QFile::encodeName(dir.filePath("new")).constData(),
                                 QFile::encodeName(path).constData()) == 0);
            } else if (change == "remove") {
                QVERIFY(QFile::remove(path));
            }
            QVERIFY2(first.provesUnchanged(FileStamp::of(path, later())) == (change == "none"),
                     qPrintable(change));
        }
        // Nor does a file that cannot be stated.
        const FileStamp none = FileStamp::of(QString());
        QVERIFY(!none.provesUnchanged(none));
        const FileStamp memory = FileStamp::of(":memory:", later());
        QVERIFY(!memory.provesUnchanged(FileStamp::of(":memory:", later())));
    }
};

QTEST_GUILESS_MAIN(TestActionRulesTable)
#include "test_actionrulestable.moc"
