// The account service: what it refuses (with the reason the command line and
// the panels give) leaves accounts.dat as it was; what it accepts is stored
// as the login decision reads it. An account's limits: refused values change
// nothing, accepted ones come back from accounts() and anonymous(), follow a
// rename, go with a deleted account (whoever deletes it), and an older file
// gains their table with the first limit set, keeping its rows.

#include "access/AccountDatabase.h"
#include "access/AccountService.h"
#include "files/LoginGrant.h"
#include "tests/support/DataRow.h"
#include "tests/support/DbTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace Qt::StringLiterals;
using kv::access::AccountFields;
using kv::access::AccountService;
using kv::access::LimitChanges;
using kv::files::AccountLimits;
using kv::files::Rights;

namespace {

// Placeholders of a table row: {root} a folder of the test's own, with "sub".
QString placed(QString text, const QString& root) {
    return text.replace(u"{root}"_s, root);
}

} // namespace

class TestAccountService : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<kv::access::AccountDatabase> db_;
    QString root_;

    QString file() const { return db_->filePath(); }
    QStringList read(const QString& sql) const {
        return kv::testing::texts(kv::testing::column(file(), sql));
    }
    AccountService service() const { return AccountService(db_->connection()); }
    // Everything an account change may touch.
    QStringList snapshot() const {
        return read(u"SELECT group_concat(ID || login || ifnull(password, '') || enabled || read "
                    "|| write || \"delete\" || browse || manage || ifnull(rootdir, ''), ';') "
                    "FROM users"_s) +
               read(u"SELECT group_concat(enabled || read || ifnull(rootdir, ''), ';') "
                    "FROM anonymous"_s) +
               read(u"SELECT count(*) FROM virtualdirs"_s) +
               read(u"SELECT count(*) FROM actions"_s) +
               read(u"SELECT group_concat(account || ':' || rate_up_kib || ',' || rate_down_kib || "
                    "',' || session_rate_up_kib || ',' || session_rate_down_kib || ',' || "
                    "quota_bytes || ',' || quota_files || ',' || expires, ';') FROM "
                    "account_limits"_s);
    }
    static AccountLimits limitsOf(const QList<kv::access::AccountRow>& rows, const QString& login) {
        for (const auto& row : rows) {
            if (row.login == login)
                return row.limits;
        }
        return {};
    }

    // Root, rights and whole-disk columns shared by the refusal tables.
    static void fieldColumns() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("wholeDisk");
        QTest::addColumn<QString>("refusal");
    }
    AccountFields fields(const QString& root, bool wholeDisk) const {
        AccountFields f;
        if (root != u"-"_s)
            f.root = placed(root, root_);
        f.wholeDiskChosen = wholeDisk;
        return f;
    }

private Q_SLOTS:
    void init() {
        QVERIFY(QDir(dir_.path()).mkpath(u"root/sub"_s));
        root_ = dir_.filePath(u"root"_s);
        QFile::remove(dir_.filePath(u"accounts.dat"_s));
        db_ = std::make_unique<kv::access::AccountDatabase>(dir_.filePath(u"accounts.dat"_s));
        QVERIFY(db_->open());
        QCOMPARE(kv::testing::runSql(file(),
                                     {u"INSERT INTO users (login, password, enabled, read) VALUES "
                                      "('bob', 'pw', 1, 1)"_s,
                                      u"INSERT INTO virtualdirs (name, source, destination, user) "
                                      "VALUES ('doc', '', '/tmp', 1)"_s,
                                      u"INSERT INTO actions (event, user, kind, target) VALUES "
                                      "('upload', 'bob', 'run', '/bin/true')"_s}),
                 QString());
    }
    void cleanup() { db_.reset(); }

    void addRefusalsChangeNothing_data() {
        QTest::addColumn<QString>("login");
        fieldColumns();
        addRow("duplicate in another case", u"BOB"_s, u"-"_s, false,
               u"Non è consentito duplicare i Login"_s);
        QTest::newRow("blank") << u" "_s << u"-"_s << false << u"Il login non può essere vuoto"_s;
        addRow("anonymous", u"Anonymous"_s, u"-"_s, false,
               u"\"anonymous\" è l'account anonimo: scegliere un altro login"_s);
        addRow("missing root", u"dora"_s, u"{root}/missing"_s, false,
               u"La cartella \"{root}/missing\" non esiste"_s);
        addRow("relative root", u"dora"_s, u"sub"_s, false,
               u"La cartella \"sub\" va indicata con un percorso assoluto"_s);
        addRow("whole disk not chosen", u"dora"_s, u"/"_s, false,
               kv::access::wholeDiskRefusal(kv::access::accountRootOwner(u"dora"_s)));
    }
    void addRefusalsChangeNothing() {
        QFETCH(QString, login);
        QFETCH(QString, root);
        QFETCH(bool, wholeDisk);
        QFETCH(QString, refusal);
        const QStringList before = snapshot();
        AccountService accounts = service();
        QCOMPARE(accounts.newAccountProblem(login, fields(root, wholeDisk)),
                 std::optional(placed(refusal, root_)));
        QCOMPARE(accounts.addAccount(login, u"secret"_s, fields(root, wholeDisk)),
                 std::optional(placed(refusal, root_)));
        QCOMPARE(snapshot(), before);
    }

    void addStoresWhatWasGiven_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("wholeDisk");
        QTest::addColumn<QString>("rights");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("stored"); // enabled, rights mask, root
        addRow("default root, rights", u"-"_s, false, u"rB"_s, true, u"1 r--b- "_s);
        addRow("own root, cleaned", u"{root}/sub/"_s, false, u"rwdbm"_s, false,
               u"0 rwdbm {root}/sub"_s);
        QTest::newRow("whole disk by name") << u"/"_s << true << u""_s << true << u"1 ----- /"_s;
    }
    void addStoresWhatWasGiven() {
        QFETCH(QString, root);
        QFETCH(bool, wholeDisk);
        QFETCH(QString, rights);
        QFETCH(bool, enabled);
        QFETCH(QString, stored);
        AccountFields given = fields(root, wholeDisk);
        given.rights = Rights::parse(rights);
        given.enabled = enabled;
        AccountService accounts = service();
        QCOMPARE(accounts.addAccount(u"dora"_s, u"segreta"_s, given), std::nullopt);
        const QList<kv::access::AccountRow> rows = accounts.accounts();
        QCOMPARE(rows.size(), 2);
        const kv::access::AccountRow& dora = rows.at(1); // by login
        QCOMPARE(dora.login, u"dora"_s);
        QCOMPARE(u"%1 %2 %3"_s.arg(int(dora.enabled)).arg(dora.rights.mask(), dora.root),
                 placed(stored, root_));
        // Never kept as clear text.
        QVERIFY(read(u"SELECT password FROM users WHERE login = 'dora'"_s)
                    .value(0)
                    .startsWith(u"$y$"_s));
    }

    void rightsLettersAreReadOnce_data() {
        QTest::addColumn<QString>("letters");
        QTest::addColumn<QString>("mask"); // empty: refused
        QTest::newRow("all, any case") << u"MbDwR"_s << u"rwdbm"_s;
        QTest::newRow("none") << u""_s << u"-----"_s;
        QTest::newRow("repeated") << u"rr"_s << u"r----"_s;
        QTest::newRow("unknown letter") << u"rwx"_s << QString();
        QTest::newRow("blank") << u"r b"_s << QString();
    }
    void rightsLettersAreReadOnce() {
        QFETCH(QString, letters);
        QFETCH(QString, mask);
        const std::optional<Rights> rights = Rights::parse(letters);
        QCOMPARE(rights ? rights->mask() : QString(), mask);
        if (!rights)
            QCOMPARE(kv::access::rightsRefusal(letters),
                     u"Diritti non validi: \"%1\" (lettere ammesse: r w d b m)"_s.arg(letters));
    }

    void changeRefusalsChangeNothing_data() {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("newLogin"); // "-": no rename
        fieldColumns();
        addRow("no such account", u"nobody"_s, u"-"_s, u"-"_s, false,
               u"L'account \"nobody\" non esiste"_s);
        addRow("rename onto another account", u"bob"_s, u"Carla"_s, u"-"_s, false,
               u"Non è consentito duplicare i Login"_s);
        addRow("rename to a blank", u"bob"_s, u"a b"_s, u"-"_s, false,
               u"Il login non può contenere spazi o caratteri di "
               "controllo"_s);
        addRow("missing root", u"bob"_s, u"-"_s, u"{root}/missing"_s, false,
               u"La cartella \"{root}/missing\" non esiste"_s);
        addRow("whole disk not chosen", u"bob"_s, u"-"_s, u"/"_s, false,
               kv::access::wholeDiskRefusal(kv::access::accountRootOwner(u"bob"_s)));
    }
    void changeRefusalsChangeNothing() {
        QFETCH(QString, login);
        QFETCH(QString, newLogin);
        QFETCH(QString, root);
        QFETCH(bool, wholeDisk);
        QFETCH(QString, refusal);
        QCOMPARE(kv::testing::runSql(file(), {u"INSERT INTO users (login, enabled) VALUES "
                                              "('carla', 1)"_s}),
                 QString());
        const QStringList before = snapshot();
        const std::optional<QString> renamed =
            newLogin == u"-"_s ? std::nullopt : std::optional(newLogin);
        AccountFields given = fields(root, wholeDisk);
        given.enabled = false;
        QCOMPARE(service().changeAccount(login, renamed, given),
                 std::optional(placed(refusal, root_)));
        QCOMPARE(snapshot(), before);
    }

    // A rename moves the account's folders (by ID) and rules (by the file's
    // triggers) with it; given rights replace all five.
    void renameAndChangesReachTheirRows() {
        AccountService accounts = service();
        AccountFields off;
        off.enabled = false;
        QCOMPARE(accounts.changeAccount(u"bob"_s, u"roberto"_s, off), std::nullopt);
        QCOMPARE(read(u"SELECT login || enabled FROM users"_s), QStringList{u"roberto0"_s});
        QCOMPARE(read(u"SELECT user FROM virtualdirs"_s), QStringList{u"1"_s});
        QCOMPARE(read(u"SELECT user FROM actions"_s), QStringList{u"roberto"_s});

        AccountFields on;
        on.enabled = true;
        on.rights = Rights::parse(u"rw");
        QCOMPARE(accounts.changeAccount(u"roberto"_s, std::nullopt, on), std::nullopt);
        QCOMPARE(read(u"SELECT enabled || read || write || browse FROM users"_s),
                 QStringList{u"1110"_s});
    }

    void passwordIsStoredHashed() {
        AccountService accounts = service();
        QCOMPARE(accounts.setPassword(u"nobody"_s, u"x"_s),
                 std::optional(u"L'account \"nobody\" non esiste"_s));
        QCOMPARE(accounts.setPassword(u"bob"_s, u"nuova"_s), std::nullopt);
        const QString stored = read(u"SELECT password FROM users"_s).value(0);
        QVERIFY(stored.startsWith(u"$y$"_s));
        QVERIFY(!stored.contains(u"nuova"_s));
    }

    // The account goes with exactly its folders, its rules with it; the rules
    // are counted for the operator first.
    void removeTakesFoldersAndRules() {
        QCOMPARE(kv::testing::runSql(file(),
                                     {u"INSERT INTO virtualdirs (name, source, destination, user) "
                                      "VALUES ('pub', '', '/tmp', 0)"_s,
                                      u"INSERT INTO actions (event, user, kind, target) VALUES "
                                      "('upload', 'BOB', 'run', '/bin/true')"_s}),
                 QString());
        AccountService accounts = service();
        QCOMPARE(accounts.ruleCount(u"bob"_s), 2);
        const AccountService::Removal gone = accounts.removeAccount(u"bob"_s);
        QCOMPARE(gone.error, std::nullopt);
        QCOMPARE(gone.rules, 2);
        QCOMPARE(read(u"SELECT count(*) FROM users"_s), QStringList{u"0"_s});
        QCOMPARE(read(u"SELECT name FROM virtualdirs"_s), QStringList{u"pub"_s});
        QCOMPARE(read(u"SELECT count(*) FROM actions"_s), QStringList{u"0"_s});
        QCOMPARE(accounts.removeAccount(u"bob"_s).error,
                 std::optional(u"L'account \"bob\" non esiste"_s));
    }

    void anonymousAccount_data() {
        fieldColumns();
        QTest::newRow("own root") << u"{root}/sub"_s << false << QString();
        addRow("missing root", u"{root}/missing"_s, false,
               u"La cartella \"{root}/missing\" non esiste"_s);
        addRow("whole disk not chosen", u"/"_s, false,
               kv::access::wholeDiskRefusal(kv::access::anonymousRootOwner()));
        QTest::newRow("whole disk by name") << u"/"_s << true << QString();
    }
    void anonymousAccount() {
        QFETCH(QString, root);
        QFETCH(bool, wholeDisk);
        QFETCH(QString, refusal);
        AccountService accounts = service();
        QVERIFY(!accounts.anonymous()->enabled); // a new file's
        AccountFields given = fields(root, wholeDisk);
        given.enabled = true;
        given.rights = Rights::parse(u"rb");
        const QStringList before = snapshot();
        const std::optional<QString> result = accounts.changeAnonymous(given);
        if (!refusal.isEmpty()) {
            QCOMPARE(result, std::optional(placed(refusal, root_)));
            QCOMPARE(snapshot(), before);
            return;
        }
        QCOMPARE(result, std::nullopt);
        const auto row = accounts.anonymous();
        QVERIFY(row->enabled);
        QCOMPARE(row->rights.mask(), u"r--b-"_s);
        QCOMPARE(row->root, placed(root, root_));
    }

    void anonymousRowMissing() {
        QCOMPARE(kv::testing::runSql(file(), {u"DELETE FROM anonymous"_s}), QString());
        AccountService accounts = service();
        QVERIFY(!accounts.anonymous());
        AccountFields on;
        on.enabled = true;
        QCOMPARE(accounts.changeAnonymous(on),
                 std::optional(u"accounts.dat non ha la riga dell'account anonimo"_s));
    }

    // Every way in judges the limits alike, with the message the panel and
    // the command line show, and a refused value writes nothing at all.
    void limitRefusalsChangeNothing_data() {
        QTest::addColumn<QString>("field"); // the column
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("refusal");
        addRow("negative rate", u"rate_up_kib"_s, qint64(-1),
               u"Velocità massima in ricezione (upload) dell'account, in KiB/s: \"-1\" non può "
               "essere negativo"_s);
        addRow("rate over the maximum", u"session_rate_down_kib"_s, qint64(16 * 1024 * 1024 + 1),
               u"Velocità massima in invio (download) di ogni sessione, in KiB/s: \"16777217\" "
               "è oltre il massimo (16777216)"_s);
        addRow("negative quota", u"quota_bytes"_s, qint64(-1024),
               u"Quota di spazio: \"-1024\" non può essere negativo"_s);
        addRow("quota over the maximum", u"quota_bytes"_s, (qint64(1) << 61),
               u"Quota di spazio: \"2097152T\" è oltre il massimo (1048576T)"_s);
        addRow("negative files", u"quota_files"_s, qint64(-3),
               u"Quota di file: \"-3\" non può essere negativo"_s);
    }
    void limitRefusalsChangeNothing() {
        QFETCH(QString, field);
        QFETCH(qint64, value);
        QFETCH(QString, refusal);
        AccountFields given;
        for (const auto& def : kv::access::limitFields()) {
            if (def.column == field)
                given.limits.number(def) = value;
        }
        given.limits.expires = QDate(2030, 1, 2); // accepted, but never stored alone
        QVERIFY(!given.isEmpty());
        const QStringList before = snapshot();
        AccountService accounts = service();
        QCOMPARE(accounts.newAccountProblem(u"dora"_s, given), std::optional(refusal));
        QCOMPARE(accounts.addAccount(u"dora"_s, u"pw"_s, given), std::optional(refusal));
        QCOMPARE(accounts.changeProblem(u"bob"_s, std::nullopt, given), std::optional(refusal));
        QCOMPARE(accounts.changeAccount(u"bob"_s, std::nullopt, given), std::optional(refusal));
        QCOMPARE(accounts.changeAnonymous(given), std::optional(refusal));
        QCOMPARE(snapshot(), before);
    }

    // Limits set on a new account, changed a field at a time, kept by a
    // rename, and cleared back to none; "never" empties the expiry date.
    void limitsRoundTrip() {
        AccountService accounts = service();
        QCOMPARE(limitsOf(accounts.accounts(), u"bob"_s), AccountLimits()); // no row: none
        AccountFields given;
        given.limits.rateUpKib = 100;
        given.limits.rateDownKib = 200;
        given.limits.sessionRateUpKib = 10;
        given.limits.sessionRateDownKib = 20;
        given.limits.quotaBytes = qint64(5) << 30;
        given.limits.quotaFiles = 1000;
        given.limits.expires = QDate(2026, 12, 10);
        QCOMPARE(accounts.addAccount(u"dora"_s, u"pw"_s, given), std::nullopt);
        AccountLimits expected{100, 200, 10, 20, qint64(5) << 30, 1000, QDate(2026, 12, 10)};
        QCOMPARE(limitsOf(accounts.accounts(), u"dora"_s), expected);
        QCOMPARE(limitsOf(accounts.accounts(), u"bob"_s), AccountLimits());

        AccountFields some;
        some.limits.rateDownKib = 0;
        some.limits.expires = QDate(); // never
        QCOMPARE(accounts.changeAccount(u"dora"_s, u"dorotea"_s, some), std::nullopt);
        expected.rateDownKib = 0;
        expected.expires = QDate();
        QCOMPARE(limitsOf(accounts.accounts(), u"dorotea"_s), expected);
        QCOMPARE(read(u"SELECT expires FROM account_limits WHERE account = "
                      "(SELECT ID FROM users WHERE login = 'dorotea')"_s),
                 QStringList{QString()});

        // Only limits: the users row stays as it was.
        const QStringList users = read(u"SELECT group_concat(login || enabled) FROM users"_s);
        AccountFields quota;
        quota.limits.quotaFiles = 7;
        QCOMPARE(accounts.changeAccount(u"bob"_s, std::nullopt, quota), std::nullopt);
        QCOMPARE(read(u"SELECT group_concat(login || enabled) FROM users"_s), users);
        QCOMPARE(limitsOf(accounts.accounts(), u"bob"_s).quotaFiles, qint64(7));
    }

    void anonymousLimits() {
        AccountService accounts = service();
        QCOMPARE(accounts.anonymous()->limits, AccountLimits());
        AccountFields given;
        given.limits.rateDownKib = 64;
        given.limits.expires = QDate(2027, 1, 31);
        QCOMPARE(accounts.changeAnonymous(given), std::nullopt);
        const auto row = accounts.anonymous();
        QCOMPARE(row->id, qint64(kv::files::kAnonymousAccountId));
        QCOMPARE(row->limits.rateDownKib, qint64(64));
        QCOMPARE(row->limits.expires, QDate(2027, 1, 31));
        QVERIFY(!row->enabled); // untouched
        // Named accounts stay without limits.
        QCOMPARE(limitsOf(accounts.accounts(), u"bob"_s), AccountLimits());
    }

    // An account's limits go with it, whether the service or another program
    // deletes it; the anonymous account's and other accounts' stay.
    void deletedAccountTakesItsLimits_data() {
        QTest::addColumn<bool>("bySql");
        QTest::newRow("account service") << false;
        QTest::newRow("another program") << true;
    }
    void deletedAccountTakesItsLimits() {
        QFETCH(bool, bySql);
        AccountService accounts = service();
        AccountFields given;
        given.limits.quotaBytes = 1024;
        QCOMPARE(accounts.addAccount(u"dora"_s, u"pw"_s, given), std::nullopt);
        QCOMPARE(accounts.changeAccount(u"bob"_s, std::nullopt, given), std::nullopt);
        QCOMPARE(accounts.changeAnonymous(given), std::nullopt);
        QCOMPARE(read(u"SELECT count(*) FROM account_limits"_s), QStringList{u"3"_s});
        if (bySql)
            QCOMPARE(kv::testing::runSql(file(), {u"DELETE FROM users WHERE login = 'bob'"_s}),
                     QString());
        else
            QCOMPARE(accounts.removeAccount(u"bob"_s).error, std::nullopt);
        QCOMPARE(read(u"SELECT account FROM account_limits ORDER BY account"_s),
                 (QStringList{u"0"_s, QString::number(*accounts.accountId(u"dora"_s))}));
    }

    // A file made before the limits existed opens unchanged, reads as
    // "no limits", and gains the table (and its trigger) with the first
    // limit set, every row it had kept.
    void olderFileGainsTheTableWithTheFirstLimit() {
        db_.reset();
        const QString path = dir_.filePath(u"older.dat"_s);
        QStringList older = kv::testing::schemaWithout(u"account_limits"_s);
        older.removeIf([](const QString& s) { return s.contains(u"account_limits"_s); });
        QCOMPARE(kv::testing::runSql(
                     path, older + QStringList{u"INSERT INTO settings (ip) VALUES ('::')"_s,
                                               u"INSERT INTO anonymous DEFAULT VALUES"_s,
                                               u"INSERT INTO users (login, password, enabled) "
                                               "VALUES ('bob', 'pw', 1), ('amy', 'x', 0)"_s}),
                 QString());
        const QByteArray hash = kv::testing::fileHash(path);
        db_ = std::make_unique<kv::access::AccountDatabase>(path);
        QVERIFY(db_->open());
        QCOMPARE(kv::testing::fileHash(path), hash);
        AccountService accounts = service();
        QCOMPARE(accounts.accounts().size(), 2);
        QCOMPARE(limitsOf(accounts.accounts(), u"bob"_s), AccountLimits());
        AccountFields given;
        given.limits.rateUpKib = 5;
        QCOMPARE(accounts.changeAccount(u"amy"_s, std::nullopt, given), std::nullopt);
        QCOMPARE(read(u"SELECT group_concat(login || enabled || password, ',') FROM users"_s),
                 QStringList{u"bob1pw,amy0x"_s});
        QCOMPARE(limitsOf(accounts.accounts(), u"amy"_s).rateUpKib, qint64(5));
        QCOMPARE(read(u"SELECT sql FROM sqlite_master WHERE name LIKE 'account_limits%' ORDER "
                      "BY rowid"_s),
                 kv::testing::accountSchema().filter(u"account_limits"_s));
        QCOMPARE(accounts.removeAccount(u"amy"_s).error, std::nullopt);
        QCOMPARE(read(u"SELECT count(*) FROM account_limits"_s), QStringList{u"0"_s});
    }
};

QTEST_GUILESS_MAIN(TestAccountService)
#include "test_accountservice.moc"
