// LoginHandler: the whole login decision table (clear-text and hashed
// passwords, exact and pattern list entries), what a connection is handed,
// and logins that meet a locked file or a host name not yet looked up.

#include "access/AccountDatabase.h"
#include "access/AddressHelpers.h"
#include "access/LoginHandler.h"
#include "access/PasswordHash.h"
#include "tests/support/DbTestSupport.h"
#include "tests/support/FakeConnection.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kv::access;
using kv::engine::Verdict;
using kv::testing::FakeConnection;

namespace {

struct Switches : ListSwitches {
    bool block = false, allow = false;
    bool BlockListOn() const override { return block; }
    bool AllowListOn() const override { return allow; }
};

// One login attempt and what the connection must be given; lists: "b" block list
// on, "a" allow list on.
struct LoginCase {
    const char *name, *user, *password, *host;
    bool anonymousOn;
    const char* lists;
    bool accepted;
    const char *letters, *root;
    int account;
    const char* vdirs;
};

// Made with libcrypt for the password "Pa55-word".
#define SHA512_PA55                                                                                \
    "$6$PEQW2vPLHnmRcdOY$5QlxovXGclKhHAveNDj/"                                                     \
    "2IFvKI813PWvIARXVLbznkkHNxVXH7kvF6AKj8Gxdr.3Ju9bRC5Cl4jSEF4aJfLny1"
#define BCRYPT_PA55 "$2b$05$mUaiAAi8BeSsSFyDnorP2.YOI1z8e0eA691Pf0cxHY3qCu94zz6Cm"

} // namespace

Q_DECLARE_METATYPE(LoginCase)

class TestLoginHandler : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<AccountDatabase> db_;
    std::unique_ptr<AccountViews> views_;
    ConnectedUsers users_;
    Switches switches_;

    bool sql(const QString& statement, const QVariantList& values = {}) {
        QSqlQuery q(db_->connection());
        q.prepare(statement);
        for (const QVariant& v : values)
            q.addBindValue(v);
        return q.exec();
    }

    std::unique_ptr<LoginHandler> handler() {
        // Host names resolve through a fixed table, so no lookup leaves the machine.
        auto lookup = [](const QString& name) {
            return name == QLatin1String("client.test")
                       ? QList<QHostAddress>{QHostAddress(QStringLiteral("10.0.0.5"))}
                       : QList<QHostAddress>{};
        };
        return std::make_unique<LoginHandler>(
            db_->connection(), users_, switches_,
            [lookup](const QString& host) { return kv::admin::ResolveHostAddress(host, lookup); },
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
        QVERIFY(sql(user, L{"dave", yescrypt, 1, 1, 1, 0, 0, 0, "/srv/dave"}));      // ID 6
        QVERIFY(sql(user, L{"erin", SHA512_PA55, 1, 0, 0, 1, 0, 0, "/srv/erin"}));   // ID 7
        QVERIFY(sql(user, L{"frank", BCRYPT_PA55, 1, 0, 0, 0, 1, 0, "/srv/frank"})); // ID 8
        QVERIFY(sql(user, L{"hank", QVariant(), 1, 1, 0, 0, 0, 0, "/srv/hank"}));    // ID 9
        QVERIFY(sql("UPDATE anonymous SET read=1, write=0, \"delete\"=0, browse=1, manage=0,"
                    " rootdir='/srv/anon'"));
        const QString vdir = QStringLiteral(
            "INSERT INTO virtualdirs (name, source, destination, user) VALUES (?,?,?,?)");
        QVERIFY(sql(vdir, L{"pub", "", "/data/pub", 1}));
        QVERIFY(sql(vdir, L{"docs", "/srv/bob", "/data/docs", 1}));
        QVERIFY(sql(vdir, L{"c", QVariant(), "/data/c", 2}));
        QVERIFY(sql(vdir, L{"anon", "", "/data/anon", 0}));
        QVERIFY(sql(vdir, L{"named", "", "/data/named", 3}));
        for (const char* ip : {"10.0.0.5", "10.0.0.9"})
            QVERIFY(sql("INSERT INTO IPok (IP) VALUES (?)", {ip}));
        for (const char* ip : {"10.0.0.66", "10.0.0.9"})
            QVERIFY(sql("INSERT INTO IPko (IP) VALUES (?)", {ip}));
        // Patterns, and entries that are none (they match nothing).
        for (const char* ip :
             {"192.168.7.0/24", "10.2.0.1-10.2.0.3", "10.3.0.1/33", "", "2001:db8::7"})
            QVERIFY(sql("INSERT INTO IPok (IP) VALUES (?)", {ip}));
        for (const char* ip : {"192.168.5.0/24", "10.1.0.5-10.1.0.9", "172.16.3.*", "300.1.1.1",
                               "bogus-entry", "unknown.test"})
            QVERIFY(sql("INSERT INTO IPko (IP) VALUES (?)", {ip}));
        views_ = std::make_unique<AccountViews>(*db_);
        views_->openAll();
    }

    void decidesAndHandsOver_data() {
        QTest::addColumn<LoginCase>("c");
        // clang-format off
        const LoginCase cases[] = {
            {"enabled account", "bob", "x", "127.0.0.1", true, "", true, "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"wrong password", "bob", "nope", "127.0.0.1", true, "", false, "", "/default", -2, ""},
            {"disabled account still handed over", "carol", "y", "127.0.0.1", true, "", false, "RW", "/srv/carol", 2, "c:"},
            {"anonymous, any password", "anonymous", "guest@", "127.0.0.1", true, "", true, "RB", "/srv/anon", 0, "anon:"},
            {"ANONYMOUS, empty password", "ANONYMOUS", "", "127.0.0.1", true, "", true, "RB", "/srv/anon", 0, "anon:"},
            {"anonymous switched off", "Anonymous", "x", "127.0.0.1", false, "", false, "", "/default", -2, ""},
            {"users row named anonymous", "anonymous", "named", "127.0.0.1", false, "", true, "RWDBM", "/srv/named", 3, "named:"},
            {"empty names", "", "", "127.0.0.1", true, "", false, "", "/default", -2, ""},
            {"names of spaces only, even with a row", " ", " ", "127.0.0.1", true, "", false, "RWDBM", "/default", 5, ""},
            {"quotes and wildcards compared whole", "o'hara", "q\"%_", "127.0.0.1", true, "", true, "D", "/default", 4, ""},
            {"wildcards match nothing", "%", "%", "127.0.0.1", true, "", false, "", "/default", -2, ""},
            {"quote injection", "bob' OR '1'='1", "' OR '1'='1", "127.0.0.1", true, "", false, "", "/default", -2, ""},
            {"block list, address listed", "bob", "x", "10.0.0.66", true, "b", false, "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"block list off", "bob", "x", "10.0.0.66", true, "", true, "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"block list refuses anonymous", "anonymous", "a", "10.0.0.66", true, "b", false, "RB", "/srv/anon", 0, "anon:"},
            {"allow list, address not listed", "bob", "x", "10.0.0.7", true, "a", false, "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"allow list, name resolving to a listed address", "bob", "x", "client.test", true, "a", true, "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"both lists, allowed and not blocked", "bob", "x", "10.0.0.5", true, "ab", true, "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"both lists, allowed but blocked", "bob", "x", "10.0.0.9", true, "ab", false, "RB", "/srv/bob", 1, "pub: docs:/srv/bob"},
            {"yescrypt row", "dave", "Dave-Pw1", "127.0.0.1", true, "", true, "RW", "/srv/dave", 6, ""},
            {"yescrypt row, login in capitals", "DAVE", "Dave-Pw1", "127.0.0.1", true, "", true, "RW", "/srv/dave", 6, ""},
            {"SHA-512-crypt row", "erin", "Pa55-word", "127.0.0.1", true, "", true, "D", "/srv/erin", 7, ""},
            {"SHA-512-crypt row, the hash typed", "erin", SHA512_PA55, "127.0.0.1", true, "", false, "", "/default", -2, ""},
            {"bcrypt row", "Frank", "Pa55-word", "127.0.0.1", true, "", true, "B", "/srv/frank", 8, ""},
            {"null password opens nothing", "hank", "", "127.0.0.1", true, "", false, "", "/default", -2, ""},
        };
        // clang-format on
        for (const LoginCase& c : cases)
            QTest::newRow(c.name) << c;
    }
    void decidesAndHandsOver() {
        QFETCH(LoginCase, c);
        const QString host = QString::fromUtf8(c.host), lists = QString::fromUtf8(c.lists);
        QVERIFY(sql("UPDATE anonymous SET enabled=?", {c.anonymousOn}));
        switches_.block = lists.contains(u'b');
        switches_.allow = lists.contains(u'a');
        FakeConnection conn(QString::fromUtf8(c.user), QString::fromUtf8(c.password), host);
        conn.setRootDir(QStringLiteral("/default"));
        const qint32 before = users_.HighestIndex();
        auto h = handler();
        h->InvalidListEntries(); // named at start, not during the login

        const Verdict verdict = h->LoginRequest(conn);

        QCOMPARE(verdict == Verdict::Allow, c.accepted);
        QCOMPARE(users_.HighestIndex(), before + 1);
        QCOMPARE(ConnectionIndex(conn), before + 1);
        QCOMPARE(users_.record(before + 1)->Permissions(), QString::fromUtf8(c.letters));
        // The lists compare the resolved dotted address.
        const bool dotted = kv::admin::IsNumericAddress(host);
        QCOMPARE(users_.AddressOf(before + 1), dotted ? host : QStringLiteral("10.0.0.5"));
        QCOMPARE(conn.RootDir(), QString::fromUtf8(c.root));
        QCOMPARE(handler()->AccountID(conn), c.account);
        QStringList names;
        for (const auto& d : conn.VirtualDirs().items())
            names << d.name + u':' + d.source;
        QCOMPARE(names.join(u' '), QString::fromUtf8(c.vdirs));
    }

    // The lists' entries as patterns; hosts are the clients' addresses.
    void listsMatchPatterns_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("lists");
        QTest::addColumn<bool>("accepted");
        const auto row = [](const char* name, const char* host, const char* lists, bool accepted) {
            QTest::newRow(name) << QString::fromLatin1(host) << QString::fromLatin1(lists)
                                << accepted;
        };
        row("blocked block", "192.168.5.200", "b", false);
        row("next to the blocked block", "192.168.6.1", "b", true);
        row("blocked range, first", "10.1.0.5", "b", false);
        row("blocked wildcard", "172.16.3.77", "b", false);
        row("allowed block", "192.168.7.9", "a", true);
        row("past the allowed range", "10.2.0.4", "a", false);
        row("allowed IPv6 address, other spelling", "2001:db8:0::7", "a", true);
        row("an invalid allow entry allows nothing", "10.3.0.1", "a", false);
        // The name is not resolved, and the entry of that name is no address.
        row("a host name entry blocks nothing", "unknown.test", "b", true);
    }
    void listsMatchPatterns() {
        QFETCH(QString, host);
        QFETCH(QString, lists);
        QFETCH(bool, accepted);
        switches_.block = lists.contains(u'b');
        switches_.allow = lists.contains(u'a');
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"), host);
        auto h = handler();
        h->InvalidListEntries(); // named at start, not again during the login
        QCOMPARE(h->LoginRequest(c) == Verdict::Allow, accepted);
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
        QCOMPARE(h->LoginRequest(c), Verdict::Allow);
        QCOMPARE(h->LoginRequest(c), Verdict::Allow); // met again: not named again
        QCOMPARE(h->InvalidListEntries(), (QStringList{expected[0], expected[1], expected[3]}));
        QVERIFY(h->InvalidListEntries().isEmpty());
    }

    void disabledNamedAnonymousIsNotLetInAsTheAnonymousAccount() {
        QVERIFY(sql("UPDATE users SET enabled=0 WHERE ID=3"));
        QVERIFY(sql("UPDATE anonymous SET enabled=1"));
        switches_ = {};
        FakeConnection named(QStringLiteral("anonymous"), QStringLiteral("named"));
        QCOMPARE(handler()->LoginRequest(named), Verdict::Deny);
        FakeConnection guest(QStringLiteral("anonymous"), QStringLiteral("other"));
        QCOMPARE(handler()->LoginRequest(guest), Verdict::Allow);
        QCOMPARE(users_.record(ConnectionIndex(guest))->Permissions(), QStringLiteral("RB"));
        QVERIFY(sql("UPDATE users SET enabled=1 WHERE ID=3"));
    }

    void repeatedLoginReplacesWhatTheConnectionWasGiven() {
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"));
        auto h = handler();
        QCOMPARE(h->LoginRequest(c), Verdict::Allow);
        const qint32 first = ConnectionIndex(c);
        c.setUserName(QStringLiteral("o'hara"));
        c.setPassword(QStringLiteral("q\"%_"));
        QCOMPARE(h->LoginRequest(c), Verdict::Allow);
        QCOMPARE(ConnectionIndex(c), first + 1);
        QCOMPARE(users_.record(first)->Permissions(), QStringLiteral("RB"));
        QCOMPARE(users_.record(first + 1)->Permissions(), QStringLiteral("D"));
        QCOMPARE(c.RootDir(), QStringLiteral("/default"));
        QVERIFY(c.VirtualDirs().items().isEmpty());
    }

    void settingsRowSwitches() {
        DataView& settings = views_->Data2();
        SettingsRowListSwitches rowSwitches(settings);
        QVERIFY(!rowSwitches.AllowListOn() && !rowSwitches.BlockListOn());
        // An edit not yet committed counts at once, like a ticked box.
        QVERIFY(settings.Edit() && settings.setField(QStringLiteral("IPok"), true));
        QVERIFY(rowSwitches.AllowListOn() && !rowSwitches.BlockListOn());
        settings.CancelUpdate();
        QVERIFY(!rowSwitches.AllowListOn());
    }

    // Another program holding accounts.dat (BEGIN EXCLUSIVE, or a commit in
    // progress): the login is refused within the short busy wait, not after
    // SQLite's 5 s, and the same login succeeds once the file is free.
    void lockedDatabaseRefusesQuickly() {
        switches_ = {};
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"));
        {
            kv::testing::LockHolder other(db_->filePath(), QStringLiteral("BEGIN EXCLUSIVE"));
            QVERIFY(other.locked());
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(handler()->LoginRequest(c), Verdict::Deny);
            QCOMPARE_LT(timer.elapsed(), 1500);
            QCOMPARE(users_.record(ConnectionIndex(c))->Permissions(), QString());
        }
        QCOMPARE(handler()->LoginRequest(c), Verdict::Allow);
        QCOMPARE(c.VirtualDirs().items().size(), 2);
    }

    // The system resolver is asked in the background: while a name's address
    // is not known a list cannot be checked, so the login is refused.
    void hostNamesAreLookedUpWithoutWaiting() {
        LoginHandler h(db_->connection(), users_, switches_);
        switches_ = {};
        switches_.block = true;
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"), QStringLiteral("localhost"));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(h.LoginRequest(c), Verdict::Deny);
        QCOMPARE_LT(timer.elapsed(), 1000);
        QCOMPARE(users_.AddressOf(ConnectionIndex(c)), QStringLiteral("localhost"));
        QTRY_COMPARE_WITH_TIMEOUT(h.LoginRequest(c), Verdict::Allow, 5000);
        QCOMPARE(users_.AddressOf(ConnectionIndex(c)), QStringLiteral("127.0.0.1"));
    }

    // A list that cannot be read refuses, like an empty allow list.
    void listTableStatesRefuse_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("replacement"); // made while the table is set aside
        // clang-format off
        QTest::newRow("block list unreadable") << "IPko" << "";
        QTest::newRow("allow list unreadable") << "IPok" << "";
        QTest::newRow("allow list empty") << "IPok" << "CREATE TABLE IPok (IP TEXT)";
        // clang-format on
    }
    void listTableStatesRefuse() {
        QFETCH(QString, table);
        QFETCH(QString, replacement);
        QVERIFY(sql(QStringLiteral("ALTER TABLE %1 RENAME TO kept").arg(table)));
        QVERIFY(replacement.isEmpty() || sql(replacement));
        switches_.block = table == QLatin1String("IPko");
        switches_.allow = !switches_.block;
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"), QStringLiteral("10.0.0.5"));
        QCOMPARE(handler()->LoginRequest(c), Verdict::Deny);
        QVERIFY(replacement.isEmpty() || sql(QStringLiteral("DROP TABLE %1").arg(table)));
        QVERIFY(sql(QStringLiteral("ALTER TABLE kept RENAME TO %1").arg(table)));
        QCOMPARE(handler()->LoginRequest(c), Verdict::Allow);
    }
};

QTEST_GUILESS_MAIN(TestLoginHandler)
#include "test_loginhandler.moc"
