// A copy of the server's accounts.dat edited through the program's own
// services, its changes applied by the server's channel: the round trip,
// refusals with the panels' words, conflicts, triggers' work on both ends,
// remote limits on rules that run a program, masked secrets, and browsing.
#include "adminchannel/DataOperations.h"

#include "access/AccountKeys.h"
#include "access/AccountSchema.h"
#include "access/AccountService.h"
#include "access/MirrorDatabase.h"
#include "access/PasswordHash.h"
#include "access/SettingsService.h"
#include "access/SqlRows.h"
#include "access/TableRows.h"
#include "access/VirtualDirService.h"
#include "actions/ActionRulesTable.h"
#include "adminchannel/AdminOperations.h"
#include "adminchannel/ChangeSet.h"
#include "adminchannel/FolderBrowse.h"
#include "adminchannel/RowChecks.h"
#include "settings/AddressPattern.h"
#include "settings/FolderPresence.h"
#include "tests/adminchannel/AdminCoreFixture.h"
#include "tests/support/SampleKeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace kv;
using namespace kv::access;
using namespace kv::testing;

namespace {

AccountFields fields(std::optional<QString> root, QStringView rights) {
    AccountFields fields;
    fields.root = std::move(root);
    fields.rights = files::Rights::fromLetters(rights);
    return fields;
}

AccountFields disabled() {
    AccountFields fields;
    fields.enabled = false;
    return fields;
}

// A server with an account "bob" (root `shared`), and a copy of its tables.
struct Round : AdminCoreFixture {
    AdminOperations ops{*core};
    QTemporaryDir mirrorDir, shared;
    QSqlDatabase mirror;
    QJsonObject tables; // the snapshot the copy was made from

    Round() {
        QVERIFY(AccountService(server())
                    .addAccount(QStringLiteral("bob"), QStringLiteral("secret"),
                                fields(shared.path(), u"rb"))
                    .value_or(QString())
                    .isEmpty());
        mirror = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), mirrorDir.path());
        mirror.setDatabaseName(mirrorDir.filePath(QStringLiteral("accounts.dat")));
        QVERIFY(mirror.open());
        QVERIFY(!createAccountTables(mirror));
        resync();
    }
    ~Round() {
        mirror.close();
        mirror = {};
        QSqlDatabase::removeDatabase(mirrorDir.path());
    }
    QSqlDatabase server() { return core->database().connection(); }
    QJsonObject ask(const QString& op, const QJsonObject& body = {}, bool remote = false) {
        return ops.answer(AdminRequest{op, body, remote});
    }
    // The copy made again from what the server holds now.
    void resync() {
        tables = ask(QStringLiteral("snapshot")).value(QStringLiteral("tables")).toObject();
        QCOMPARE(loadSnapshot(mirror, tables), std::nullopt);
    }
    QJsonObject sync(bool remote = false, bool wholeDisk = false) {
        return ask(QStringLiteral("apply"),
                   {{QStringLiteral("changes"), changesSince(mirror, tables)},
                    {QStringLiteral("wholeDisk"), wholeDisk}},
                   remote);
    }
    // Nothing tells the server's file from the copy, secrets seen masked.
    bool same() {
        QJsonArray left;
        for (const QJsonValue& c : changesSince(
                 mirror,
                 ask(QStringLiteral("snapshot")).value(QStringLiteral("tables")).toObject())) {
            if (c["before"] != maskedRow(c["table"].toString(), c["after"].toObject()))
                left.append(c);
        }
        if (!left.isEmpty())
            qWarning() << left;
        return left.isEmpty();
    }
    QStringList serverColumn(const QString& sql) {
        QStringList values;
        for (const QVariantList& row : readRows(server(), sql))
            values << row.value(0).toString();
        return values;
    }
};

QJsonObject refused(const QString& error) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
}

// Written as the options' own row (the catalog declares it with the listener).
bool setRemoteActions(QSqlDatabase db, const QString& value) {
    return !writeAll(db, {{QStringLiteral("INSERT OR REPLACE INTO options VALUES (?, ?)"),
                           {settings::option::kAdminRemoteActions, value}}});
}

const QJsonObject kApplied{{QStringLiteral("ok"), true}, {QStringLiteral("reloaded"), false}};

} // namespace

class TestDataOperations : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void accountLifeTravelsWithItsKeysLimitsRulesAndFolders() {
        Round f;
        QSignalSpy changed(&f.ops, &AdminOperations::dataChanged);
        AccountService accounts(f.mirror);
        AccountFields limits;
        limits.limits.quotaBytes = qint64(1) << 40;
        QCOMPARE(accounts.changeAccount(QStringLiteral("bob"), std::nullopt, limits), std::nullopt);
        QCOMPARE(accounts.setPassword(QStringLiteral("bob"), QStringLiteral("nuova")),
                 std::nullopt);
        QVERIFY(std::holds_alternative<qint64>(
            VirtualDirService(f.mirror).add(*accounts.accountId(QStringLiteral("bob")),
                                            {QStringLiteral("doc"), QString(), f.shared.path()})));
        SettingsService settings(f.mirror);
        QCOMPARE(
            settings.setOption(settings::option::kMailServer, QStringLiteral("smtp.example.it")),
            std::nullopt);
        QCOMPARE(settings.addListEntry(AddressList::Allow, QStringLiteral("10.0.0.0/8")),
                 std::nullopt);
        QCOMPARE(settings.setListOn(AddressList::Allow, true), std::nullopt);
        QCOMPARE(AccountKeys(f.mirror)
                     .add(QStringLiteral("bob"), *sftp::parsePublicKeyLine(kEd25519Line).key)
                     .result,
                 KeyChange::Result::Done);
        actions::ActionRule rule;
        rule.event = QStringLiteral("upload");
        rule.user = QStringLiteral("bob");
        rule.kind = actions::ActionKind::Mail;
        rule.target = QStringLiteral("ufficio@example.it");
        QVERIFY(std::holds_alternative<qint64>(actions::ActionRulesTable(f.mirror).add(rule)));
        QCOMPARE(f.sync(), kApplied);
        QVERIFY(f.same());
        QCOMPARE(changed.count(), 1);
        QVERIFY(passwordMatches(
            f.serverColumn(QStringLiteral("SELECT password FROM users")).value(0), "nuova"));

        // Renamed: the server's triggers move keys and rules as the copy's did.
        f.resync();
        QCOMPARE(accounts.changeAccount(QStringLiteral("bob"), QStringLiteral("roberto"), {}),
                 std::nullopt);
        QCOMPARE(f.sync(), kApplied);
        QVERIFY(f.same());
        QCOMPARE(f.serverColumn(QStringLiteral("SELECT login FROM account_keys") +
                                QStringLiteral(" UNION ALL SELECT user FROM actions")),
                 (QStringList{"roberto", "roberto"}));

        // Deleted: everything that was the account's goes.
        f.resync();
        QVERIFY(!accounts.removeAccount(QStringLiteral("roberto")).error);
        QCOMPARE(f.sync(), kApplied);
        QVERIFY(f.same());
        for (const QString table : {"users", "account_keys", "actions", "virtualdirs"})
            QCOMPARE(f.serverColumn(QStringLiteral("SELECT count(*) FROM ") + table),
                     QStringList{"0"});
        QCOMPARE(f.serverColumn(QStringLiteral("SELECT count(*) FROM account_limits WHERE "
                                               "account <> 0")),
                 QStringList{"0"});
        QCOMPARE(changed.count(), 3);
    }

    void refusedValuesKeepTheServerAsItWas_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("wholeDisk");
        QTest::newRow("login") << "UPDATE users SET login = 'b o b'"
                               << *loginProblem({}, QStringLiteral("b o b")) << false;
        QTest::newRow("clear password") << "UPDATE users SET password = 'chiaro'"
                                        << "La password di bob non è un hash valido (yescrypt, "
                                           "SHA-512 o bcrypt)"
                                        << false;
        QTest::newRow("malformed hash")
            << "UPDATE users SET password = '$y$j9T$sale'"
            << "La password di bob non è un hash valido (yescrypt, SHA-512 o bcrypt)" << false;
        QTest::newRow("whole disk")
            << "UPDATE users SET rootdir = '/'"
            << wholeDiskRefusal(accountRootOwner(QStringLiteral("bob"))) << false;
        QTest::newRow("folder") << "INSERT INTO virtualdirs VALUES ('x', '', '/non/esiste', 1)"
                                << *virtualDirDestinationProblem(QStringLiteral("/non/esiste"))
                                << false;
        QTest::newRow("option")
            << "INSERT OR REPLACE INTO options VALUES ('max_connections', 'tante')"
            << settings::optionCatalog()
                   .check(settings::option::kMaxConnections, QStringLiteral("tante"))
                   .error
            << false;
        QTest::newRow("unknown option")
            << "INSERT INTO options VALUES ('volume', '11')"
            << settings::optionCatalog().check(QStringLiteral("volume"), QStringLiteral("11")).error
            << false;
        QTest::newRow("list entry")
            << "INSERT INTO IPko VALUES ('vicino')"
            << settings::invalidEntryMessage(QStringLiteral("vicino")) << false;
        QTest::newRow("limit") << "INSERT INTO account_limits (account, rate_up_kib) VALUES (1, -5)"
                               << *limitValueProblem(limitField(LimitField::RateUp), -5) << false;
        QTest::newRow("key") << "INSERT INTO account_keys VALUES ('bob', 'ssh-dss', 'AAAA', '', "
                                "'x', '')"
                             << sftp::parsePublicKeyLine(QStringLiteral("ssh-dss AAAA")).error
                             << false;
        QTest::newRow("rule") << "INSERT INTO actions (event, kind, target) VALUES ('arrivo', "
                                 "'mail', 'a@b.it')"
                              << *actions::checkRule({0,
                                                      QStringLiteral("arrivo"),
                                                      "*",
                                                      {},
                                                      actions::ActionKind::Mail,
                                                      "a@b.it",
                                                      true})
                              << false;
        QTest::newRow("whole disk chosen") << "UPDATE users SET rootdir = '/'" << QString() << true;
    }
    void refusedValuesKeepTheServerAsItWas() {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QFETCH(bool, wholeDisk);
        Round f;
        // Another harmless change in the same set is not written either.
        QCOMPARE(SettingsService(f.mirror).setOption(settings::option::kLogKeep, "7"),
                 std::nullopt);
        QVERIFY(QSqlQuery(f.mirror).exec(sql));
        const QJsonObject before = f.ask(QStringLiteral("snapshot"));
        QCOMPARE(f.sync(false, wholeDisk), expected.isEmpty() ? kApplied : refused(expected));
        QCOMPARE(f.ask(QStringLiteral("snapshot")) == before, !expected.isEmpty());
    }

    void aRowChangedMeanwhileRefusesTheWholeSet() {
        Round f;
        QCOMPARE(AccountService(f.mirror).changeAccount(QStringLiteral("bob"), std::nullopt,
                                                        fields({}, u"rwb")),
                 std::nullopt);
        QCOMPARE(AccountService(f.server())
                     .changeAccount(QStringLiteral("bob"), std::nullopt, disabled()),
                 std::nullopt);
        QCOMPARE(f.sync(), refused(changedMeanwhileMessage()));
        QCOMPARE(f.serverColumn(QStringLiteral("SELECT write || enabled FROM users")),
                 QStringList{"00"});
    }

    void remoteAdministratorsMayNotAddProgramRules_data() {
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QString>("allowed"); // admin_remote_actions on the server; "": no row
        QTest::addColumn<bool>("accepted");
        QTest::newRow("remote") << true << QString() << false;
        QTest::newRow("remote, 0") << true << "0" << false;
        QTest::newRow("remote, allowed") << true << "1" << true;
        QTest::newRow("local") << false << QString() << true;
    }
    void remoteAdministratorsMayNotAddProgramRules() {
        QFETCH(bool, remote);
        QFETCH(QString, allowed);
        QFETCH(bool, accepted);
        Round f;
        if (!allowed.isEmpty()) {
            QVERIFY(setRemoteActions(f.server(), allowed));
            f.resync();
        }
        actions::ActionRulesTable rules(f.mirror);
        actions::ActionRule rule{0,   QStringLiteral("upload"), "*",
                                 {},  actions::ActionKind::Run, QStringLiteral("/usr/bin/true"),
                                 true};
        const qint64 id = std::get<qint64>(rules.add(rule));
        QCOMPARE(f.sync(remote), accepted ? kApplied : refused(remoteProgramRuleRefusal()));
        if (!accepted) { // the operator adds it on the server; from afar it may only be disabled
            QVERIFY(
                std::holds_alternative<qint64>(actions::ActionRulesTable(f.server()).add(rule)));
            f.resync();
            QCOMPARE(rules.setEnabled(id, false), std::nullopt);
            QCOMPARE(f.sync(remote), kApplied);
            f.resync();
            QCOMPARE(rules.setEnabled(id, true), std::nullopt);
            QCOMPARE(f.sync(remote), refused(remoteProgramRuleRefusal()));
        }
        // The switch itself is the server's own.
        f.resync();
        QVERIFY(setRemoteActions(f.mirror, allowed == "1" ? "0" : "1"));
        const bool known = settings::optionCatalog().find(settings::option::kAdminRemoteActions);
        QCOMPARE(f.sync(remote).value(QStringLiteral("ok")).toBool(), !remote && known);
    }

    void secretsTravelMaskedAndStayAsTheyAre() {
        Round f;
        QCOMPARE(SettingsService(f.server()).setOption(settings::option::kMailPassword, "pw"),
                 std::nullopt);
        f.resync();
        const QStringList secrets = f.serverColumn(
            QStringLiteral("SELECT password FROM users UNION ALL SELECT value FROM options WHERE "
                           "name = 'mail_password'"));
        QVERIFY(!QJsonDocument(f.tables).toJson().contains(secrets.value(0).toUtf8()));
        QVERIFY(!QJsonDocument(f.tables).toJson().contains("\"pw\""));
        QCOMPARE(AccountService(f.mirror).changeAccount(QStringLiteral("bob"), std::nullopt,
                                                        fields({}, u"r")),
                 std::nullopt);
        QCOMPARE(SettingsService(f.mirror).setOption(settings::option::kMailUser, "io"),
                 std::nullopt);
        QCOMPARE(f.sync(), kApplied);
        QCOMPARE(f.serverColumn(QStringLiteral("SELECT password FROM users UNION ALL SELECT value "
                                               "FROM options WHERE name = 'mail_password'")),
                 secrets);
    }

    void theRunningServerRereadsOnlyWhatItReadsAtAReread() {
        Round f;
        QVERIFY(f.start());
        QCOMPARE(AccountService(f.mirror).changeAccount(QStringLiteral("bob"), std::nullopt,
                                                        fields({}, u"r")),
                 std::nullopt);
        QCOMPARE(f.sync(), kApplied); // logins read the accounts themselves
        f.resync();
        QCOMPARE(SettingsService(f.mirror).setOption(settings::option::kBanMinutes, "30"),
                 std::nullopt);
        QCOMPARE(f.sync().value(QStringLiteral("reloaded")), true);
        QCOMPARE(f.core->loginBans().rules().banMs, 30 * 60000);
    }

    void aRemoteCopyLeavesFoldersToTheServer() {
        Round f;
        const QString missing = f.shared.filePath(QStringLiteral("altrove"));
        settings::setFoldersAreRemote(true);
        const auto added = VirtualDirService(f.mirror).add(1, {"x", {}, missing});
        const auto root =
            SettingsService(f.mirror).setSetting(settings::setting::kRootDir, missing);
        settings::setFoldersAreRemote(false);
        QVERIFY(std::holds_alternative<qint64>(added));
        QCOMPARE(root, std::nullopt);
        QCOMPARE(f.sync(), refused(*virtualDirDestinationProblem(missing)));
    }

    void browseListsTheServersFolders() {
        Round f;
        QTemporaryDir tree;
        for (const char* name : {"b", "A", "c", "A/inner"})
            QVERIFY(QDir(tree.path()).mkpath(name));
        for (const char* name : {"file", "Chiave.pem"}) {
            QFile file(tree.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString canonical = QFileInfo(tree.path()).canonicalFilePath();
        const QJsonObject folders{{"ok", true},
                                  {"path", canonical},
                                  {"parent", QFileInfo(canonical).path()},
                                  {"folders", QJsonArray{"A", "b", "c"}}};
        QJsonObject withFiles = folders;
        withFiles.insert("files", QJsonArray{"Chiave.pem", "file"});
        // Files only when asked (the file choosers); a client that does not ask sees folders.
        QCOMPARE(f.ask("browse", {{"path", tree.path() + "/A/.."}}), folders);
        QCOMPARE(f.ask("browse", {{"path", tree.path()}, {"files", false}}), folders);
        QCOMPARE(f.ask("browse", {{"path", tree.path()}, {"files", true}}), withFiles);
        QCOMPARE(f.ask("browse", {{"path", tree.path()}, {"files", "sì"}}),
                 refused("Richiesta non valida: files va indicato con true o false"));
        QCOMPARE(
            f.ask("browse", {{"path", tree.filePath("nessuna")}}),
            refused(QStringLiteral("La cartella \"%1\" non esiste").arg(tree.filePath("nessuna"))));
        for (int i = 0; i <= kMaxBrowsedFolders; ++i) {
            const QString name = QStringLiteral("c/%1").arg(i, 5, 10, QLatin1Char('0'));
            QVERIFY(QDir(tree.path()).mkdir(name));
            QFile file(tree.filePath(name + ".pem"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QJsonObject many = f.ask("browse", {{"path", tree.filePath("c")}});
        QCOMPARE(many.value("folders").toArray().size(), kMaxBrowsedFolders);
        QCOMPARE(many.value("folders").toArray().last(), "04999");
        QVERIFY(many.value("truncated").toBool());
        QVERIFY(!many.contains("files"));
        const QJsonObject manyFiles =
            f.ask("browse", {{"path", tree.filePath("c")}, {"files", true}});
        QCOMPARE(manyFiles.value("files").toArray().size(), kMaxBrowsedFolders);
        QCOMPARE(manyFiles.value("files").toArray().last(), "04999.pem");
        // The default root when no path is given.
        QCOMPARE(
            f.ask("browse").value("path"),
            QFileInfo(f.serverColumn("SELECT rootdir FROM settings").value(0)).canonicalFilePath());
    }
};

QTEST_GUILESS_MAIN(TestDataOperations)
#include "test_dataoperations.moc"
