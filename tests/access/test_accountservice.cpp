// The account service: what it refuses (with the reason the command line and
// the panels give) leaves accounts.dat as it was; what it accepts is stored
// as the login decision reads it.

#include "access/AccountDatabase.h"
#include "access/AccountService.h"
#include "tests/support/DbTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace Qt::StringLiterals;
using kv::access::AccountFields;
using kv::access::AccountService;
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
               read(u"SELECT count(*) FROM actions"_s);
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
        QTest::newRow("duplicate in another case")
            << u"BOB"_s << u"-"_s << false << u"Non è consentito duplicare i Login"_s;
        QTest::newRow("blank") << u" "_s << u"-"_s << false << u"Il login non può essere vuoto"_s;
        QTest::newRow("anonymous")
            << u"Anonymous"_s << u"-"_s << false
            << u"\"anonymous\" è l'account anonimo: scegliere un altro login"_s;
        QTest::newRow("missing root") << u"dora"_s << u"{root}/missing"_s << false
                                      << u"La cartella \"{root}/missing\" non esiste"_s;
        QTest::newRow("relative root")
            << u"dora"_s << u"sub"_s << false
            << u"La cartella \"sub\" va indicata con un percorso assoluto"_s;
        QTest::newRow("whole disk not chosen")
            << u"dora"_s << u"/"_s << false
            << kv::access::wholeDiskRefusal(kv::access::accountRootOwner(u"dora"_s));
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
        QTest::newRow("default root, rights")
            << u"-"_s << false << u"rB"_s << true << u"1 r--b- "_s;
        QTest::newRow("own root, cleaned")
            << u"{root}/sub/"_s << false << u"rwdbm"_s << false << u"0 rwdbm {root}/sub"_s;
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
        QTest::newRow("no such account")
            << u"nobody"_s << u"-"_s << u"-"_s << false << u"L'account \"nobody\" non esiste"_s;
        QTest::newRow("rename onto another account")
            << u"bob"_s << u"Carla"_s << u"-"_s << false << u"Non è consentito duplicare i Login"_s;
        QTest::newRow("rename to a blank") << u"bob"_s << u"a b"_s << u"-"_s << false
                                           << u"Il login non può contenere spazi o caratteri di "
                                              "controllo"_s;
        QTest::newRow("missing root") << u"bob"_s << u"-"_s << u"{root}/missing"_s << false
                                      << u"La cartella \"{root}/missing\" non esiste"_s;
        QTest::newRow("whole disk not chosen")
            << u"bob"_s << u"-"_s << u"/"_s << false
            << kv::access::wholeDiskRefusal(kv::access::accountRootOwner(u"bob"_s));
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
        QTest::newRow("missing root")
            << u"{root}/missing"_s << false << u"La cartella \"{root}/missing\" non esiste"_s;
        QTest::newRow("whole disk not chosen")
            << u"/"_s << false << kv::access::wholeDiskRefusal(kv::access::anonymousRootOwner());
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
};

QTEST_GUILESS_MAIN(TestAccountService)
#include "test_accountservice.moc"
