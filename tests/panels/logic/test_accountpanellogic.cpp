// The Account panel's behaviour without a window: the new account and when
// it is stored, the line saying what an account can do, and a rename or a
// delete taking the account's action rules, keys and folders along.

#include "access/AccountKeys.h"
#include "access/DataView.h"
#include "panels/logic/AccountPanelLogic.h"
#include "tests/support/DataRow.h"
#include "tests/support/OptionsFixture.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/SampleKeys.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using kv::admin::AccountFacts;
using kv::admin::AccountPanelLogic;

Q_DECLARE_METATYPE(kv::admin::AccountFacts)

namespace {

struct Fixture : kv::testing::OptionsFixture {
    explicit Fixture(const QStringList& rows = {}) : OptionsFixture(rows) { views->openAll(); }
    kv::access::DataView& users() { return views->Data1(); }
    QStringList rows(const QString& sql) const {
        return kv::testing::texts(kv::testing::column(path, sql));
    }
    QStringList accounts() const {
        return rows(u"SELECT ifnull(login, '<null>') || ' ' || enabled || read || write || "
                    "\"delete\" || browse || manage FROM users ORDER BY ID"_s);
    }
    kv::testing::RecordingMessages messages;
};

kv::access::KeyChange::Result addKey(const QSqlDatabase& db, const QString& login) {
    const auto key = kv::sftp::parsePublicKeyLine(QString::fromLatin1(kv::testing::kEd25519Line));
    return kv::access::AccountKeys(db).add(login, *key.key).result;
}

AccountFacts facts(bool enabled, bool password, bool keys, const QString& rights,
                   const QString& root = {}, bool rootExists = true) {
    AccountFacts f;
    f.enabled = enabled;
    f.hasPassword = password;
    f.hasKeys = keys;
    for (int i = 0; i < 5; ++i)
        f.rights[i] = rights.contains(QStringLiteral("rwdbm")[i]);
    f.root = root;
    f.rootExists = rootExists;
    return f;
}

} // namespace

class TestAccountPanelLogic : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void abilities_data() {
        QTest::addColumn<AccountFacts>("facts");
        QTest::addColumn<QString>("text");
        addRow("disabled", facts(false, true, false, u"rwdbm"_s),
               u"Disabilitato: non può accedere"_s);
        addRow("no password, no key", facts(true, false, false, u"rb"_s),
               u"Senza password: non può accedere"_s);
        addRow("no rights", facts(true, true, false, QString()),
               u"Può accedere ma non ha diritti"_s);
        addRow("read and browse", facts(true, true, false, u"rb"_s),
               u"Può scaricare e sfogliare le cartelle"_s);
        addRow("one right", facts(true, true, false, u"w"_s), u"Può caricare e rinominare"_s);
        addRow("every right", facts(true, true, false, u"rwdbm"_s),
               u"Può scaricare, caricare e rinominare, cancellare file, sfogliare le cartelle e "
               "creare e rimuovere cartelle"_s);
        addRow("a key only", facts(true, false, true, u"r"_s),
               u"Solo con una chiave SFTP: può scaricare"_s);
        addRow("root missing", facts(true, true, false, u"rb"_s, u"/srv/via"_s, false),
               u"Può scaricare e sfogliare le cartelle, ma la cartella root \"/srv/via\" non "
               "esiste"_s);
        addRow("no rights, root missing", facts(true, true, false, QString(), u"/srv/via"_s, false),
               u"Può accedere ma non ha diritti, ma la cartella root \"/srv/via\" non esiste"_s);
        addRow("disabled, root missing", facts(false, true, false, u"rb"_s, u"/srv/via"_s, false),
               u"Disabilitato: non può accedere"_s);
    }
    void abilities() {
        QFETCH(AccountFacts, facts);
        QTEST(kv::admin::accountAbilities(facts), "text");
    }

    // "Nuovo account" makes an enabled account with the read and browse
    // rights, stored once it has a login and left; a second press while it
    // waits for its login adds nothing; left without a login, it is dropped.
    void aNewAccountIsStoredOnlyWithItsLogin() {
        Fixture f({u"INSERT INTO users (login) VALUES ('anna')"_s});
        f.views->openAll();
        AccountPanelLogic logic(f.users(), f.messages, f.db.connection());
        QSignalSpy started(&logic, &AccountPanelLogic::newAccountStarted);
        QVERIFY(logic.cmdAdd());
        QVERIFY(logic.cmdAdd());
        QCOMPARE(started.size(), 2);
        QCOMPARE(f.users().RecordCount(), 2);
        QCOMPARE(logic.abilities(), u"Senza password: non può accedere"_s);
        QVERIFY(logic.setPassword(u"segreta"_s));
        QCOMPARE(logic.abilities(), u"Può scaricare e sfogliare le cartelle"_s);
        f.users().MoveFirst(); // left without a login
        QCOMPARE(f.users().RecordCount(), 1);
        QCOMPARE(f.accounts(), QStringList{u"anna 000000"_s});

        QVERIFY(logic.cmdAdd());
        QVERIFY(logic.setLogin(u"bruno"_s).isKept());
        logic.saveCurrent(); // entering the grid stores it, and it stays current
        QCOMPARE(f.accounts(), (QStringList{u"anna 000000"_s, u"bruno 110010"_s}));
        QCOMPARE(f.users().Field(u"login"_s), u"bruno"_s);
        QVERIFY(!f.users().isNewRow());
        // A new account not stored goes without a question.
        QVERIFY(logic.cmdAdd() && logic.cmdDelete());
        QCOMPARE(f.users().RecordCount(), 2);
        QVERIFY(f.messages.asked.isEmpty() && f.messages.shown.isEmpty());
    }

    // What the line says follows the row as it is being edited, its keys and
    // whether the folder it logs into is there (its own or the default root).
    void abilitiesFollowTheCurrentAccount() {
        QTemporaryDir shared;
        Fixture f({u"UPDATE settings SET rootdir = '%1'"_s.arg(shared.path()),
                   u"INSERT INTO users (login, enabled, read) VALUES ('anna', 1, 1)"_s});
        f.views->openAll();
        AccountPanelLogic logic(f.users(), f.messages, f.db.connection());
        QCOMPARE(logic.abilities(), u"Senza password: non può accedere"_s);
        QCOMPARE(addKey(f.db.connection(), u"anna"_s), kv::access::KeyChange::Result::Done);
        QCOMPARE(logic.abilities(), u"Solo con una chiave SFTP: può scaricare"_s);
        QVERIFY(f.users().setField(u"password"_s, u""_s)); // an empty password opens too
        QCOMPARE(logic.abilities(), u"Può scaricare"_s);
        QVERIFY(logic.setRoot(shared.filePath(u"gone"_s)).outcome ==
                kv::admin::EditVerdict::Outcome::Refused);
        QVERIFY(f.users().setField(u"rootdir"_s, shared.filePath(u"gone"_s)));
        QCOMPARE(logic.abilities(), u"Può scaricare, ma la cartella root \"%1\" non esiste"_s.arg(
                                        shared.filePath(u"gone"_s)));
        QVERIFY(f.users().setField(u"rootdir"_s, QString()));
        QVERIFY(QDir(shared.path()).removeRecursively());
        QCOMPARE(logic.abilities(),
                 u"Può scaricare, ma la cartella root \"%1\" non esiste"_s.arg(shared.path()));
        f.users().setCurrentRow(-1);
        QCOMPARE(logic.abilities(), QString());
    }

    // A rename in the panel carries the account's action rules (compared
    // ignoring case) and keys; its folders follow by number. Deleting it
    // deletes its rules, and the question says so.
    void renameAndDeleteCarryTheAccountsRules() {
        Fixture f(
            {u"INSERT INTO users (ID, login, enabled) VALUES (3, 'scanner', 1), (4, 'altro', 1)"_s,
             u"INSERT INTO virtualdirs (name, source, destination, user) VALUES ('v', '', "
             "'/tmp', 3)"_s,
             u"INSERT INTO actions (event, user, kind, target) VALUES ('upload', 'Scanner', "
             "'run', '/a'), ('upload', 'scanner', 'run', '/b'), ('upload', 'altro', 'run', "
             "'/c'), ('upload', '*', 'run', '/d')"_s});
        QCOMPARE(addKey(f.db.connection(), u"scanner"_s), kv::access::KeyChange::Result::Done);
        f.views->openAll();
        AccountPanelLogic logic(f.users(), f.messages, f.db.connection());
        QVERIFY(logic.setLogin(u"archivio"_s).isKept());
        logic.saveCurrent();
        const QString rules = u"SELECT user || target FROM actions ORDER BY id"_s;
        QCOMPARE(f.rows(rules),
                 (QStringList{u"archivio/a"_s, u"archivio/b"_s, u"altro/c"_s, u"*/d"_s}));
        QCOMPARE(f.rows(u"SELECT login FROM account_keys"_s), QStringList{u"archivio"_s});
        QCOMPARE(f.rows(u"SELECT user FROM virtualdirs"_s), QStringList{u"3"_s});

        f.messages.answer = true;
        QVERIFY(logic.cmdDelete());
        QCOMPARE(f.messages.asked,
                 QStringList{u"Eliminare l'account \"archivio\" e la sua cartella virtuale (v)? "
                             "Saranno eliminate anche le sue 2 azioni."_s});
        QCOMPARE(f.rows(rules), (QStringList{u"altro/c"_s, u"*/d"_s}));
        QVERIFY(f.rows(u"SELECT login FROM account_keys"_s).isEmpty());
        QVERIFY(f.rows(u"SELECT user FROM virtualdirs"_s).isEmpty());
    }

    void deleteQuestion_data() {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<int>("rules");
        QTest::addColumn<QString>("question");
        QTest::newRow("alone") << QStringList() << 0 << u"Eliminare l'account \"a\"?"_s;
        addRow("one rule", QStringList(), 1,
               u"Eliminare l'account \"a\"? Sarà eliminata anche la sua azione."_s);
        addRow("folders and rules", QStringList{u"x"_s, u"y"_s}, 3,
               u"Eliminare l'account \"a\" e le sue 2 cartelle virtuali (x, y)? Saranno eliminate "
               "anche le sue 3 azioni."_s);
    }
    void deleteQuestion() {
        QFETCH(QStringList, folders);
        QFETCH(int, rules);
        QTEST(kv::admin::deleteAccountQuestion(u"a"_s, folders, rules), "question");
    }
};

QTEST_GUILESS_MAIN(TestAccountPanelLogic)
#include "test_accountpanellogic.moc"
