// The protection group's behaviour without a window.

#include "panels/logic/LoginProtectionLogic.h"
#include "session/LoginBans.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>

using namespace kv;
using namespace kv::admin;

namespace {

struct Fixture : testing::OptionsFixture {
    qint64 now = 0;
    kv::session::LoginBans bans{[this] { return now; }};
    std::unique_ptr<LoginProtectionLogic> logic;

    explicit Fixture(const QStringList& sql = {})
        : OptionsFixture(sql),
          logic(std::make_unique<LoginProtectionLogic>(views->options(), &bans)) {}
};

} // namespace

class TestLoginProtectionLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showsStoredValuesAndDefaults() {
        // A file without the rows shows what a missing row means.
        Fixture f({"DELETE FROM options", "INSERT INTO options VALUES ('ban_attempts', ' 07 ')",
                   "INSERT INTO options VALUES ('ban_minutes', 'lots')"});
        QStringList shown;
        for (const QString& option : LoginProtectionLogic::options())
            shown << option + "=" + f.logic->shown(option);
        QCOMPARE(shown, (QStringList{"ban_attempts=7", "ban_window_minutes=10",
                                     "ban_minutes=lots", // to be corrected
                                     "max_connections=1000", "max_connections_per_ip=500"}));
        QCOMPARE(f.logic->caption("max_connections"),
                 QString("Connessioni contemporanee in tutto (0 = nessun limite)"));
    }

    void changes_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pending"); // "" when nothing is pending
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const char* option, const char* text,
                            const char* pending, const char* error) {
            QTest::newRow(name) << QString(option) << QString(text) << QString(pending)
                                << QString::fromUtf8(error);
        };
        row("a new value", "ban_attempts", "3", "3", "");
        row("off", "ban_attempts", "0", "0", "");
        row("what the file holds", "ban_attempts", "5", "", "");
        row("no limit", "max_connections", " 0 ", "0", "");
        row("too many attempts", "ban_attempts", "1001", "",
            "Opzione ban_attempts: 1001 non è un numero intero da 0 a 1000");
        row("a window of nothing", "ban_window_minutes", "0", "",
            "Opzione ban_window_minutes: 0 non è un numero intero da 1 a 1440");
        row("a negative limit", "max_connections_per_ip", "-2", "",
            "Opzione max_connections_per_ip: -2 non è un numero intero da 0 a 100000");
        row("words", "ban_minutes", "dieci", "",
            "Opzione ban_minutes: dieci non è un numero intero da 1 a 10080");
    }
    void changes() {
        QFETCH(QString, option);
        QFETCH(QString, text);
        QFETCH(QString, pending);
        Fixture f; // a new database: ban_attempts 5, ...
        const std::optional<QString> refusal = f.logic->change(option, text);
        QTEST(refusal.value_or(QString()), "error");
        QCOMPARE(f.views->options().pending().value(option), pending);
        QCOMPARE(f.views->options().pending().size(), pending.isEmpty() ? 0 : 1);
    }

    void listsAndLiftsBans() {
        Fixture f;
        f.bans.reset({2, 60000, 10 * 60000});
        QVERIFY(f.logic->rows().isEmpty());
        f.bans.recordFailure("127.0.0.2");
        f.bans.recordFailure("127.0.0.2");
        f.now = 30000;
        f.bans.recordFailure("::1");
        f.bans.recordFailure("::1");
        f.now = 9 * 60000 + 1; // 59.999 s and 89.999 s left
        QCOMPARE(f.logic->rows(), (QList<BannedRow>{{"127.0.0.2", 2, 1}, {"::1", 2, 2}}));
        QVERIFY(f.logic->unblock("127.0.0.2"));
        QVERIFY(!f.logic->unblock("127.0.0.2"));
        QCOMPARE(f.logic->rows(), (QList<BannedRow>{{"::1", 2, 2}}));
        f.now = 11 * 60000; // every ban has ended
        QVERIFY(f.logic->rows().isEmpty());
        QVERIFY(!f.logic->unblock("::1"));
        // Without a server core there is nothing to list or lift.
        LoginProtectionLogic none(f.views->options(), nullptr);
        QVERIFY(none.rows().isEmpty());
        QVERIFY(!none.unblock("::1"));
    }
};

QTEST_GUILESS_MAIN(TestLoginProtectionLogic)
#include "test_loginprotectionlogic.moc"
