// LoginHandler: the whole login decision table (clear-text and hashed
// passwords, exact and pattern list entries), the reason of every refusal,
// what an accepted login is granted, and logins that meet a locked file or
// an unreadable list; accounts past their expiry date, around the local
// midnight that ends it; and the stored passwords it checks.

#include "access/AccountDatabase.h"
#include "access/AccountKeys.h"
#include "access/AccountService.h"
#include "access/LoginHandler.h"
#include "access/PasswordHash.h"
#include "tests/support/DataRow.h"
#include "tests/support/DbTestSupport.h"
#include "tests/support/FakeConnection.h"
#include "tests/support/SampleKeys.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kv::access;
using kv::session::LoginDecision;
using kv::testing::FakeConnection;
using Outcome = LoginDecision::Outcome;

namespace {

struct Switches : ListSwitches {
    bool block = false, allow = false;
    bool BlockListOn() const override { return block; }
    bool AllowListOn() const override { return allow; }
};

// One login attempt and its answer: by password, or by the key of fingerprint
// `key`, the password then never looked at. Lists: "b" block list on, "a" allow
// list on. `refusal` is empty for an accepted login, whose grant must then hold
// the letters, root, account number and virtual folders ("name:source ...").
struct LoginCase {
    const char *name, *user, *password, *key, *host;
    bool anonymousOn;
    const char* lists;
    const char* refusal;
    const char* letters = "";
    const char* root = "";
    int account = -2;
    const char* vdirs = "";
};

bool isAccepted(const LoginDecision& d) {
    return d.outcome == Outcome::Accepted && d.grant;
}

// Made with libcrypt for the password "Pa55-word".
const char* const kSha512 = "$6$PEQW2vPLHnmRcdOY$5QlxovXGclKhHAveNDj/2IFvKI813PWvIARXVLbznkkHNxVXH7"
                            "kvF6AKj8Gxdr.3Ju9bRC5Cl4jSEF4aJfLny1";
const char* const kBcrypt = "$2b$05$mUaiAAi8BeSsSFyDnorP2.YOI1z8e0eA691Pf0cxHY3qCu94zz6Cm";
// Debian's default yescrypt cost.
const char* const kYescryptDefault =
    "$y$j9T$aZFIAHzD9YWfn11RTKJGG1$i1AfHh291iKpZnAe5/f3fo9F9URLHlp1ND5em2mb5O.";

} // namespace

Q_DECLARE_METATYPE(LoginCase)

using namespace Qt::StringLiterals;

class TestLoginHandler : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<AccountDatabase> db_;
    std::unique_ptr<AccountViews> views_;
    Switches switches_;

    bool sql(const QString& statement, const QVariantList& values = {}) {
        QSqlQuery q(db_->connection());
        q.prepare(statement);
        for (const QVariant& v : values)
            q.addBindValue(v);
        return q.exec();
    }

    std::unique_ptr<LoginHandler> handler() {
        return std::make_unique<LoginHandler>(db_->connection(), switches_,
                                              [] { return QStringLiteral("/default"); });
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        db_ = std::make_unique<AccountDatabase>(dir_.filePath(QStringLiteral("accounts.dat")));
        QVERIFY2(db_->open(), qPrintable(db_->problem()));
        const QString user = QStringLiteral(
            "INSERT INTO users (login, password, enabled, read, write, \"delete\", browse, manage,"
            " rootdir) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        using L = QVariantList;
        QVERIFY(sql(user, L{"bob", "x", 1, 1, 0, 0, 1, 0, "/srv/bob"}));             // ID 1
        QVERIFY(sql(user, L{"carol", "y", 0, 1, 1, 0, 0, 0, "/srv/carol"}));         // ID 2
        QVERIFY(sql(user, L{"anonymous", "named", 1, 1, 1, 1, 1, 1, "/srv/named"})); // ID 3
        QVERIFY(sql(user, L{"o'hara", "q\"%_", 1, 0, 0, 1, 0, 0, QVariant()}));      // ID 4
        QVERIFY(sql(user, L{" ", " ", 1, 1, 1, 1, 1, 1, "/srv/space"}));             // ID 5
        const QString yescrypt = hashPassword(QStringLiteral("Dave-Pw1")).value_or(QString());
        QVERIFY(yescrypt.startsWith(QLatin1String("$y$")));
        QVERIFY(sql(user, L{"dave", yescrypt, 1, 1, 1, 0, 0, 0, "/srv/dave"}));   // ID 6
        QVERIFY(sql(user, L{"erin", kSha512, 1, 0, 0, 1, 0, 0, "/srv/erin"}));    // ID 7
        QVERIFY(sql(user, L{"hank", QVariant(), 1, 1, 0, 0, 0, 0, "/srv/hank"})); // ID 8
        QVERIFY(sql("UPDATE anonymous SET read=1, write=0, \"delete\"=0, browse=1, manage=0,"
                    " rootdir='/srv/anon'"));
        const QString vdir = QStringLiteral(
            "INSERT INTO virtualdirs (name, source, destination, user) VALUES (?,?,?,?)");
        QVERIFY(sql(vdir, L{"pub", "", "/data/pub", 1}));
        QVERIFY(sql(vdir, L{"docs", "/srv/bob", "/data/docs", 1}));
        QVERIFY(sql(vdir, L{"c", QVariant(), "/data/c", 2}));
        QVERIFY(sql(vdir, L{"anon", "", "/data/anon", 0}));
        QVERIFY(sql(vdir, L{"named", "", "/data/named", 3}));
        // Exact entries, patterns, and entries that are none (they match nothing).
        for (const char* ip : {"10.0.0.5", "10.0.0.9", "192.168.7.0/24", "10.2.0.1-10.2.0.3",
                               "10.3.0.1/33", "", "2001:db8::7"})
            QVERIFY(sql("INSERT INTO IPok (IP) VALUES (?)", {ip}));
        for (const char* ip : {"10.0.0.66", "10.0.0.9", "192.168.5.0/24", "10.1.0.5-10.1.0.9",
                               "172.16.3.*", "300.1.1.1", "bogus-entry", "unknown.test"})
            QVERIFY(sql("INSERT INTO IPko (IP) VALUES (?)", {ip}));
        views_ = std::make_unique<AccountViews>(*db_);
        views_->openAll();
        AccountKeys keys(db_->connection());
        for (const auto& [login, line] : {std::pair{"bob", kv::testing::kEd25519Line},
                                          {"carol", kv::testing::kEcdsa256Line},
                                          {"anonymous", kv::testing::kRsa2048Line}})
            QVERIFY(keys.add(QString::fromLatin1(login),
                             kv::sftp::parsePublicKeyLine(QString::fromLatin1(line)).key.value())
                        .result != KeyChange::Result::Failed);
        QCOMPARE(handler()->KeyIsListed(QStringLiteral("anonymous"),
                                        QString::fromLatin1(kv::testing::kRsa2048Fingerprint)),
                 kv::sftp::KeyListed::No);
    }

    void decidesAndGrants_data() {
        QTest::addColumn<LoginCase>("c");
        const char* wrong = "password errata";
        const char* unknown = "account inesistente";
        const char* disabled = "account disabilitato";
        const char* address = "indirizzo non autorizzato";
        const char* blank = "nome e password vuoti";
        const char* notListed = "chiave non autorizzata per l'account";
        using namespace kv::testing;
        const char *ed = kEd25519Fingerprint, *ec = kEcdsa256Fingerprint,
                   *rsa = kRsa2048Fingerprint;
        // clang-format off
        const LoginCase cases[] = {
            {"enabled account", "bob", "x", "", "127.0.0.1", true, "", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"wrong password", "bob", "nope", "", "127.0.0.1", true, "", wrong},
            {"no such account", "nobody", "x", "", "127.0.0.1", true, "", unknown},
            {"disabled account", "carol", "y", "", "127.0.0.1", true, "", disabled},
            {"anonymous, any password", "anonymous", "guest@", "", "127.0.0.1", true, "", "", "RB", "/srv/anon", 0, "anon:"},
            {"anonymous switched off", "Anonymous", "x", "", "127.0.0.1", false, "", disabled},
            {"users row named anonymous", "anonymous", "named", "", "127.0.0.1", false, "", "", "RWDBM", "/srv/named", 3, "named:"},
            {"empty names", "", "", "", "127.0.0.1", true, "", blank},
            {"names of spaces only, even with a row", " ", " ", "", "127.0.0.1", true, "", blank},
            {"quotes and wildcards compared whole", "o'hara", "q\"%_", "", "127.0.0.1", true, "", "", "D", "/default", 4, ""},
            {"wildcards match nothing", "%", "%", "", "127.0.0.1", true, "", unknown},
            {"quote injection", "bob' OR '1'='1", "' OR '1'='1", "", "127.0.0.1", true, "", unknown},
            {"block list, address listed", "bob", "x", "", "10.0.0.66", true, "b", address},
            {"block list off", "bob", "x", "", "10.0.0.66", true, "", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"block list refuses anonymous", "anonymous", "a", "", "10.0.0.66", true, "b", address},
            {"allow list, address not listed", "bob", "x", "", "10.0.0.7", true, "a", address},
            {"both lists, allowed and not blocked", "bob", "x", "", "10.0.0.5", true, "ab", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"both lists, allowed but blocked", "bob", "x", "", "10.0.0.9", true, "ab", address},
            {"yescrypt row", "dave", "Dave-Pw1", "", "127.0.0.1", true, "", "", "RW", "/srv/dave", 6, ""},
            {"SHA-512-crypt row", "erin", "Pa55-word", "", "127.0.0.1", true, "", "", "D", "/srv/erin", 7, ""},
            {"SHA-512-crypt row, the hash typed", "erin", kSha512, "", "127.0.0.1", true, "", wrong},
            {"null password opens nothing", "hank", "", "", "127.0.0.1", true, "", wrong},
            // The lists' entries as patterns.
            {"blocked block", "bob", "x", "", "192.168.5.200", true, "b", address},
            {"next to the blocked block", "bob", "x", "", "192.168.6.1", true, "b", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"blocked range, first", "bob", "x", "", "10.1.0.5", true, "b", address},
            {"blocked wildcard", "bob", "x", "", "172.16.3.77", true, "b", address},
            {"allowed block", "bob", "x", "", "192.168.7.9", true, "a", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"allowed IPv6 address, other spelling", "bob", "x", "", "2001:db8:0::7", true, "a", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"an invalid allow entry allows nothing", "bob", "x", "", "10.3.0.1", true, "a", address},
            {"a host name entry blocks nothing", "bob", "x", "", "unknown.test", true, "b", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            // A login by key: the key list takes the password's place.
            {"listed key", "bob", "wrong", ed, "127.0.0.1", true, "", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"listed key, login in capitals", "BOB", "wrong", ed, "127.0.0.1", true, "", "", "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"another account's key", "bob", "x", ec, "127.0.0.1", true, "", notListed},
            {"key listed nowhere", "bob", "x", rsa, "127.0.0.1", true, "", notListed},
            {"key of a disabled account", "carol", "y", ec, "127.0.0.1", true, "", disabled},
            {"key of no account", "nobody", "x", ed, "127.0.0.1", true, "", unknown},
            {"anonymous, even with a listed key", "anonymous", "x", rsa, "127.0.0.1", true, "", "l'account anonimo non accede con una chiave"},
            {"key, blocked address", "bob", "x", ed, "10.0.0.66", true, "b", address},
        };
        // clang-format on
        for (const LoginCase& c : cases)
            QTest::newRow(c.name) << c;
    }
    void decidesAndGrants() {
        QFETCH(LoginCase, c);
        const QString host = QString::fromUtf8(c.host), lists = QString::fromUtf8(c.lists);
        QVERIFY(sql("UPDATE anonymous SET enabled=?", {c.anonymousOn}));
        switches_.block = lists.contains(u'b');
        switches_.allow = lists.contains(u'a');
        FakeConnection conn(QString::fromUtf8(c.user), QString::fromUtf8(c.password), host);
        auto h = handler();
        h->InvalidListEntries(); // named at start, not during the login
        const QString key = QString::fromLatin1(c.key);

        const LoginDecision d =
            key.isEmpty() ? h->LoginRequest(conn) : h->KeyLoginRequest(conn, key);

        QCOMPARE(d.reason, QString::fromUtf8(c.refusal));
        if (*c.refusal) {
            QCOMPARE(d.outcome, Outcome::Refused);
            QVERIFY(!d.grant);
            return;
        }
        QVERIFY(isAccepted(d));
        QCOMPARE(d.grant->rights.letters(), QString::fromUtf8(c.letters));
        QCOMPARE(d.grant->root, QString::fromUtf8(c.root));
        QCOMPARE(d.grant->accountId, c.account);
        QCOMPARE(d.grant->login, QString::fromUtf8(c.user));
        QCOMPARE(d.grant->anonymous, c.account == kv::files::kAnonymousAccountId);
        QCOMPARE(d.grant->address, host);
        QStringList names;
        for (const auto& v : d.grant->virtualDirs)
            names << v.name + u':' + v.source;
        QCOMPARE(names.join(u' '), QString::fromUtf8(c.vdirs));
    }

    // Each entry that matches nothing is named once: at start, or when a
    // login meets it first.
    void invalidEntriesAreNamedOnce() {
        const QStringList expected = {
            QStringLiteral("Lista IP autorizzati: voce \"10.3.0.1/33\" non valida, ignorata"),
            QStringLiteral("Lista IP bloccati: voce \"300.1.1.1\" non valida, ignorata"),
            QStringLiteral("Lista IP bloccati: voce \"bogus-entry\" non valida, ignorata"),
            QStringLiteral("Lista IP bloccati: voce \"unknown.test\" non valida, ignorata")};
        QCOMPARE(handler()->InvalidListEntries(), expected);
        auto h = handler();
        switches_ = {};
        switches_.block = true;
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"), QStringLiteral("10.9.9.9"));
        QTest::ignoreMessage(QtWarningMsg, qPrintable(expected[2]));
        QVERIFY(isAccepted(h->LoginRequest(c)));
        QVERIFY(isAccepted(h->LoginRequest(c))); // met again: not named again
        QCOMPARE(h->InvalidListEntries(), (QStringList{expected[0], expected[1], expected[3]}));
        QVERIFY(h->InvalidListEntries().isEmpty());
    }

    void disabledNamedAnonymousIsNotLetInAsTheAnonymousAccount() {
        QVERIFY(sql("UPDATE users SET enabled=0 WHERE ID=3"));
        QVERIFY(sql("UPDATE anonymous SET enabled=1"));
        switches_ = {};
        FakeConnection named(QStringLiteral("anonymous"), QStringLiteral("named"));
        const LoginDecision refused = handler()->LoginRequest(named);
        QCOMPARE(refused.outcome, Outcome::Refused);
        QCOMPARE(refused.reason, refusal::kDisabled);
        QVERIFY(sql("UPDATE users SET enabled=1 WHERE ID=3"));
    }

    // An older file without the unique login: the enabled row the password
    // opens is the one logged in with, its rights and root, not a disabled one
    // before it.
    void aLoginTwiceInAnOlderFileOpensItsEnabledRow() {
        QTemporaryDir dir;
        AccountDatabase older(dir.filePath(QStringLiteral("accounts.dat")));
        QVERIFY(older.open());
        QCOMPARE(kv::testing::runSql(
                     older.filePath(),
                     {"DROP TABLE users",
                      "CREATE TABLE users (ID INTEGER PRIMARY KEY, login TEXT COLLATE NOCASE, "
                      "password, enabled, read, write, \"delete\", browse, manage, rootdir)",
                      "INSERT INTO users (login, password, enabled, read, write, rootdir) VALUES "
                      "('gina', 'pw', 0, 1, 0, '/srv/old'), ('gina', 'other', 1, 0, 1, "
                      "'/srv/other'), ('gina', 'pw', 1, 0, 1, '/srv/new')"}),
                 QString());
        Switches none;
        LoginHandler h(older.connection(), none, [] { return QStringLiteral("/default"); });
        FakeConnection gina(QStringLiteral("gina"), QStringLiteral("pw"));
        const LoginDecision d = h.LoginRequest(gina);
        QVERIFY(isAccepted(d));
        QCOMPARE(d.grant->accountId, 3);
        QCOMPARE(d.grant->root, QStringLiteral("/srv/new"));
        QCOMPARE(d.grant->rights.letters(), QStringLiteral("W"));
    }

    // The switches a login obeys are the settings row as saved: a value
    // saved by another connection (another program) counts at the next
    // question, a null switch counts as on, a file without the row as off.
    void storedSwitches_data() {
        QTest::addColumn<QString>("update");
        QTest::addColumn<bool>("allowOn");
        QTest::addColumn<bool>("blockOn");
        QTest::newRow("both off") << u"UPDATE settings SET IPok = 0, IPko = 0"_s << false << false;
        QTest::newRow("allow on") << u"UPDATE settings SET IPok = 1, IPko = 0"_s << true << false;
        QTest::newRow("block on") << u"UPDATE settings SET IPok = 0, IPko = 1"_s << false << true;
        addRow("null counts as on", u"UPDATE settings SET IPok = NULL, IPko = NULL"_s, true, true);
        QTest::newRow("no settings row") << u"DELETE FROM settings"_s << false << false;
        // The lists are then looked up, and a file that cannot be read leaves
        // the login undecided (listTableStates) rather than letting it in.
        addRow("unreadable: looked up", u"ALTER TABLE settings RENAME TO aside"_s, true, true);
    }
    void storedSwitches() {
        QFETCH(QString, update);
        QFETCH(bool, allowOn);
        QFETCH(bool, blockOn);
        QTemporaryDir dir;
        AccountDatabase server(dir.filePath(u"accounts.dat"_s));
        QVERIFY(server.open());
        StoredListSwitches stored(server.connection());
        QVERIFY(!stored.AllowListOn() && !stored.BlockListOn());
        AccountDatabase other(server.filePath());
        QVERIFY(other.open());
        QSqlQuery q(other.connection());
        // An older file's row may hold nulls; a new one's columns refuse them.
        if (update.contains(u"NULL"_s)) {
            QVERIFY(q.exec(u"CREATE TABLE s2 AS SELECT * FROM settings"_s));
            QVERIFY(q.exec(u"DROP TABLE settings"_s));
            QVERIFY(q.exec(u"ALTER TABLE s2 RENAME TO settings"_s));
        }
        QVERIFY2(q.exec(update), qPrintable(q.lastError().text()));
        QCOMPARE(stored.AllowListOn(), allowOn);
        QCOMPARE(stored.BlockListOn(), blockOn);
    }

    // Another program holding accounts.dat (BEGIN EXCLUSIVE, or a commit in
    // progress): the login is answered as unavailable (never as a wrong
    // password), and the same login succeeds once the file is free. How long
    // it waits is the connection's: test_accountdatabase.
    void lockedDatabaseIsUnavailableNotWrong() {
        switches_ = {};
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"));
        {
            kv::testing::LockHolder other(db_->filePath(), QStringLiteral("BEGIN EXCLUSIVE"));
            QVERIFY(other.locked());
            const LoginDecision d = handler()->LoginRequest(c);
            QCOMPARE(d.outcome, Outcome::Unavailable);
            QVERIFY(d.reason.startsWith(u"impossibile leggere gli account"));
            QVERIFY(!d.grant);
        }
        const LoginDecision d = handler()->LoginRequest(c);
        QVERIFY(isAccepted(d));
        QCOMPARE(d.grant->virtualDirs.size(), 2);
        // A login by key is not refused either, nor its probe answered no.
        const QString ed = QString::fromLatin1(kv::testing::kEd25519Fingerprint);
        kv::testing::LockHolder other(db_->filePath(), QStringLiteral("BEGIN EXCLUSIVE"));
        QVERIFY(other.locked());
        QCOMPARE(handler()->KeyLoginRequest(c, ed).outcome, Outcome::Unavailable);
        QCOMPARE(handler()->KeyIsListed(QStringLiteral("bob"), ed), kv::sftp::KeyListed::Unknown);
    }

    // An account whose expiry date is 10 December logs in all that day and
    // is refused from 00:00 of the 11th, local time, as a wrong password
    // would be but not counted towards a ban (the password was right). A
    // wrong password is still a wrong password. The grant carries the
    // account's limits as they stood.
    void expiryEndsAtTheLocalMidnightAfterTheDate_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("refusal");
        const QDate day(2026, 12, 10);
        const QDateTime lastSecond(day, QTime(23, 59, 59));
        const QDateTime midnight(day.addDays(1), QTime(0, 0));
        QTest::newRow("the date's last second") << u"bob"_s << u"x"_s << lastSecond << QString();
        addRow("the midnight after it", u"bob"_s, u"x"_s, midnight, refusal::kExpired);
        addRow("wrong password, expired", u"bob"_s, u"no"_s, midnight, refusal::kWrongPassword);
        addRow("anonymous on its date", u"anonymous"_s, u"guest"_s, lastSecond, QString());
        addRow("anonymous expired", u"anonymous"_s, u"guest"_s, midnight, refusal::kExpired);
        addRow("another account, no date", u"dave"_s, u"Dave-Pw1"_s, midnight.addYears(5),
               QString());
    }
    void expiryEndsAtTheLocalMidnightAfterTheDate() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QDateTime, now);
        QFETCH(QString, refusal);
        switches_ = {};
        QVERIFY(sql("UPDATE anonymous SET enabled=1"));
        AccountService accounts(db_->connection());
        AccountFields until;
        until.limits.expires = QDate(2026, 12, 10);
        until.limits.rateDownKib = 300;
        QCOMPARE(accounts.changeAccount(u"bob"_s, std::nullopt, until), std::nullopt);
        QCOMPARE(accounts.changeAnonymous(until), std::nullopt);
        // The other cases run on today's clock: no date stays behind.
        const auto forever = qScopeGuard([&accounts] {
            AccountFields none;
            none.limits = {0, 0, 0, 0, 0, 0, QDate()};
            QCOMPARE(accounts.changeAccount(u"bob"_s, std::nullopt, none), std::nullopt);
            QCOMPARE(accounts.changeAnonymous(none), std::nullopt);
        });
        auto h = handler();
        h->setClock([now] { return now; });
        FakeConnection conn(user, password);
        const LoginDecision d = h->LoginRequest(conn);
        QCOMPARE(d.reason, refusal);
        if (!refusal.isEmpty()) {
            QCOMPARE(d.outcome, Outcome::Refused);
            QCOMPARE(d.countsTowardsBan, refusal != refusal::kExpired);
            return;
        }
        QVERIFY(isAccepted(d));
        QCOMPARE(d.grant->limits,
                 user == u"dave"_s ? kv::files::AccountLimits() : until.limits.appliedTo({}));
        // The same moment told in UTC decides the same.
        h->setClock([now] { return now.toUTC(); });
        QVERIFY(isAccepted(h->LoginRequest(conn)));
    }

    // A list that cannot be read decides nothing; an empty allow list refuses.
    void listTableStates_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("replacement"); // made while the table is set aside
        QTest::addColumn<int>("outcome");
        // clang-format off
        QTest::newRow("block list unreadable") << "IPko" << "" << int(Outcome::Unavailable);
        QTest::newRow("allow list unreadable") << "IPok" << "" << int(Outcome::Unavailable);
        QTest::newRow("allow list empty") << "IPok" << "CREATE TABLE IPok (IP TEXT)" << int(Outcome::Refused);
        // clang-format on
    }
    void listTableStates() {
        QFETCH(QString, table);
        QFETCH(QString, replacement);
        QFETCH(int, outcome);
        QVERIFY(sql(QStringLiteral("ALTER TABLE %1 RENAME TO kept").arg(table)));
        QVERIFY(replacement.isEmpty() || sql(replacement));
        switches_.block = table == QLatin1String("IPko");
        switches_.allow = !switches_.block;
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"), QStringLiteral("10.0.0.5"));
        QCOMPARE(int(handler()->LoginRequest(c).outcome), outcome);
        QVERIFY(replacement.isEmpty() || sql(QStringLiteral("DROP TABLE %1").arg(table)));
        QVERIFY(sql(QStringLiteral("ALTER TABLE kept RENAME TO %1").arg(table)));
        QVERIFY(isAccepted(handler()->LoginRequest(c)));
    }

    // Stored passwords: the three hash kinds and clear text against right, wrong,
    // re-cased and hash-string passwords; new hashes; the checker's memory.
    void storedValuesOpenOnlyWithTheirPassword_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("hashed");
        QTest::newRow("yescrypt, Debian's cost") << QString(kYescryptDefault) << true;
        QTest::newRow("SHA-512-crypt") << QString(kSha512) << true;
        QTest::newRow("bcrypt") << QString(kBcrypt) << true;
        QTest::newRow("clear text") << QString("Pa55-word") << false;
    }
    void storedValuesOpenOnlyWithTheirPassword() {
        QFETCH(QString, stored);
        QFETCH(bool, hashed);
        QCOMPARE(isPasswordHash(stored), hashed);
        QVERIFY(passwordMatches(stored, QStringLiteral("Pa55-word")));
        for (const QString& wrong : QStringList{"pa55-word", "PA55-WORD", "Pa55-wor", "Pa55-word ",
                                                QString(), QString::fromUtf8("Pa55-word\0x", 11)})
            QVERIFY2(!passwordMatches(stored, wrong), qPrintable(wrong));
        // The stored hash typed as the password is a wrong password.
        if (hashed)
            QVERIFY(!passwordMatches(stored, stored));
    }

    void malformedHashesOpenNothing() {
        // A bare prefix, no yescrypt parameters, a bcrypt cost out of range, a cut-short hash.
        for (const QString stored :
             {"$6$", "$y$", "$2b$99$abcdefghijklmnopqrstuv", "$y$j9T$aZFIAHzD9YWfn"}) {
            QVERIFY2(isPasswordHash(stored), qPrintable(stored));
            QVERIFY(!passwordMatches(stored, stored));
            QVERIFY(!passwordMatches(stored, QString()));
        }
    }

    void otherDollarValuesStayClearText() {
        // Only the three kinds are hashes; a "$1$" (MD5-crypt) value is a
        // clear-text password like any other.
        QVERIFY(!isPasswordHash("$1$abc") && passwordMatches("$1$abc", "$1$abc"));
        QVERIFY(passwordMatches(QString(), QString()));
        QVERIFY(passwordMatches("pässwörd", "pässwörd") &&
                !passwordMatches("pässwörd", "passwort"));
    }

    void newHashesAreSaltedYescryptOfTheChosenCost() {
        const std::optional<QString> a = hashPassword("s3cret"), b = hashPassword("s3cret");
        QVERIFY(a && b && *a != *b);
        QVERIFY(a->startsWith("$y$j75$")); // cost 1
        QVERIFY(passwordMatches(*a, "s3cret") && passwordMatches(*b, "s3cret"));
        QVERIFY(!passwordMatches(*a, "S3cret"));
        QVERIFY(hashPassword(QString())); // an empty password can be hashed too
        QVERIFY(!hashPassword(QString::fromUtf8("a\0b", 3)));
        QVERIFY(!hashPassword("x", 99));
    }

    void checkerRemembersEachPairApart() {
        const QString stored = kSha512;
        PasswordChecker checker;
        for (int round = 0; round < 3; ++round) {
            QVERIFY(checker.matches(stored, "Pa55-word") && !checker.matches(stored, "wrong"));
            QVERIFY(!checker.matches(stored, stored));
            QVERIFY(checker.matches("clear", "clear") && !checker.matches("clear", "Clear"));
        }
        // A pair asked again is answered without hashing again.
        QVERIFY(checker.matches(kYescryptDefault, "Pa55-word"));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 20; ++i)
            QVERIFY(checker.matches(kYescryptDefault, "Pa55-word"));
        QVERIFY2(timer.elapsed() < 200, "remembered answers must not hash again");
        // More pairs than it remembers (malformed hashes fail fast): still right.
        for (int i = 0; i < 600; ++i)
            QVERIFY(!checker.matches("$y$" + QString::number(i), QString()));
        QVERIFY(checker.matches(stored, "Pa55-word"));
    }
};

QTEST_GUILESS_MAIN(TestLoginHandler)
#include "test_loginhandler.moc"
