#include "core/ServerController.h"

#include "access/AccountDatabase.h"
#include "core/WholeDiskWarnings.h"
#include "settings/SharedRoot.h"
#include "tests/support/DataRow.h"
#include "tests/support/DbTestSupport.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/SettingValues.h"

#include <QDir>
#include <QMap>
#include <QStringList>
#include <QTest>

using namespace kv;

using OptionMap = QMap<QString, QString>;
Q_DECLARE_METATYPE(OptionMap)

namespace {

class Boxes : public ServerBoxes {
public:
    QString text(ServerBox box) const override { return values.value(box); }
    void setText(ServerBox box, const QString& text) override { values[box] = text; }
    QMap<ServerBox, QString> values;
};

class View : public ServerView {
public:
    void showRunning(const QString& address) override { events << "running " + address; }
    void afterStart() override { events << "after start"; }
    void showStartFailed(const QString& message) override { events << "failed " + message; }
    void showStopped() override { events << "stopped"; }
    QStringList events;
};

const QString kAt = QStringLiteral("[05-12-2026 20:49:03] ");

// A second server started with the engine (as SFTP is), scripted to fail or not.
class Companion : public CompanionServer {
public:
    std::optional<QString> start(const ServerConfig& config, QStringList& lines) override {
        events << QStringLiteral("start port %1 engine %2")
                      .arg(config.options.sftpPort)
                      .arg(engine && engine->isListening() ? "listening" : "stopped");
        if (problem)
            return problem;
        lines << QStringLiteral("COMPANION LINE");
        return std::nullopt;
    }
    void stop() override {
        events << QStringLiteral("stop engine %1")
                      .arg(engine && engine->isListening() ? "listening" : "stopped");
    }
    const kv::ftp::FtpEngine* engine = nullptr;
    std::optional<QString> problem;
    QStringList events;
};

// The start's box for a settings column; none for a column it does not read.
std::optional<ServerBox> boxOf(const QString& column) {
    for (const ServerBox box : kServerBoxes) {
        if (SettingsRowBoxes::fieldName(box) == column)
            return box;
    }
    return std::nullopt;
}

QString engineValue(const testing::FakeEngine& engine, const QString& column) {
    return QMap<QString, QString>{{"ip", engine.LocalAddress()},
                                  {"port", QString::number(engine.Port())},
                                  {"rootdir", engine.ServerRootDir()},
                                  {"timeout", QString::number(engine.Timeout())},
                                  {"debugmode", QString::number(engine.DebugMode())},
                                  {"datalingertime", QString::number(engine.DataLingerTime())},
                                  {"resolvelinks", QString::number(engine.ResolveLinks())}}
        .value(column);
}

struct Fixture {
    testing::FakeEngine engine;
    Boxes boxes;
    View view;
    QStringList log;
    QString mainAddress = QStringLiteral("192.0.2.9"); // the PC's, as the program finds it
    ServerController controller{engine, boxes, [this] { return mainAddress; },
                                [this](const QString& line) { log << line; },
                                [] { return QDateTime(QDate(2026, 12, 5), QTime(20, 49, 3)); }};
    Fixture() {
        controller.setView(&view);
        boxes.values = {{ServerBox::Address, "127.0.0.1"},   {ServerBox::Port, "2121"},
                        {ServerBox::Root, QDir::tempPath()}, {ServerBox::Timeout, "60"},
                        {ServerBox::ResolveLinks, "0"},      {ServerBox::DebugMode, "2"},
                        {ServerBox::DataLingerTime, "5"}};
        engine.setLocalAddress("");
    }
    QMap<QString, QString> rows; // the options table, once useRows() is called
    void useRows() {
        controller.setOptionSource([this] { return access::OptionRows{rows, {}}; }, "/data");
    }
    // A start or reread that failed for these reasons: each logged, all shown.
    void expectFailure(const QStringList& reasons) {
        QStringList logged;
        for (const QString& reason : reasons)
            logged << kAt + "SERVER START FAILED: " + reason;
        QCOMPARE(log, logged);
        QCOMPARE(view.events,
                 QStringList{"failed " + kStartFailedMessage + "\n" + reasons.join('\n')});
    }
};

} // namespace

class TestServerController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void companionStartsAfterTheEngineAndStopsBeforeIt() {
        Fixture f;
        Companion c;
        c.engine = &f.engine;
        f.controller.setCompanion(&c);
        f.useRows();
        f.rows = {{"sftp_port", "2222"}};
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(f.log, QStringList({"", kAt + "SERVER START ON IP 127.0.0.1", "COMPANION LINE"}));
        f.controller.ServerStop();
        QCOMPARE(c.events,
                 QStringList({"start port 2222 engine listening", "stop engine listening"}));
        QVERIFY(!f.engine.isListening());

        // A reread reaches the companion; its failure keeps the engine listening.
        QVERIFY(f.controller.ServerStart());
        f.rows = {{"sftp_port", "2022"}};
        c.problem = QStringLiteral("Porta SFTP 2022 non utilizzabile");
        f.log.clear();
        QVERIFY(f.controller.ServerReload());
        QCOMPARE(c.events.last(), QStringLiteral("start port 2022 engine listening"));
        QVERIFY(f.engine.isListening());
        QVERIFY(f.log.contains(kAt + "SERVER RELOAD FAILED: " + *c.problem));

        // Its failure at a start fails the start, with nothing half-started.
        f.controller.ServerStop();
        f.log.clear();
        f.view.events.clear();
        QVERIFY(!f.controller.ServerStart());
        QVERIFY(!f.engine.isListening());
        QCOMPARE(int(f.controller.ServerState()), 0);
        f.expectFailure({*c.problem});
    }

    // An empty port box is filled with what the engine is given; an empty
    // root is served as the whole disk but stays empty, so that it is never
    // stored as a choice nobody made.
    void emptyBoxesAtStart() {
        Fixture f;
        f.boxes.values[ServerBox::Port] = "";
        f.boxes.values[ServerBox::Root] = "";
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(f.boxes.values[ServerBox::Port], QString("21"));
        QCOMPARE(f.boxes.values[ServerBox::Root], QString());
        QCOMPARE(f.engine.ServerRootDir(), QString("/"));
    }

    // Each stored value as the catalog judges it: an address, port or root it
    // refuses fails the start with the catalog's words; a refused engine
    // number leaves the engine's own value and is named in the log.
    void storedSettingsAsTheCatalogJudgesThem_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("normal");
        QTest::addColumn<QString>("refusal");
        for (const testing::SettingValue& v : testing::settingValueSamples()) {
            if (boxOf(v.column))
                QTest::newRow(v.row) << v.column << v.text << v.normal << v.refusal;
        }
    }
    void storedSettingsAsTheCatalogJudgesThem() {
        QFETCH(QString, column);
        QFETCH(QString, text);
        QFETCH(QString, normal);
        QFETCH(QString, refusal);
        Fixture f;
        f.engine.setTimeout(77);
        f.engine.setDebugMode(-3);
        f.engine.setDataLingerTime(9);
        f.engine.setResolveLinks(4);
        f.boxes.values = {{ServerBox::Address, "127.0.0.1"},
                          {ServerBox::Port, "2121"},
                          {ServerBox::Root, QDir::tempPath()}};
        f.boxes.values[*boxOf(column)] = text;
        const QString before = engineValue(f.engine, column);
        const bool started = f.controller.ServerStart();
        const bool mustListen = column == "ip" || column == "port" || column == "rootdir";
        if (!refusal.isEmpty() && mustListen) {
            QVERIFY(!started);
            QCOMPARE(f.engine.listenCalls, 0);
            QCOMPARE(int(f.engine.Port()), 21); // nothing handed over
            f.expectFailure({refusal});
            return;
        }
        QVERIFY(started);
        // The status shows the address listened on; for "Default" and the
        // empty address, which listen on every address, the PC's main one.
        const bool everyAddress = column == "ip" && (normal == "Default" || normal.isEmpty());
        QCOMPARE(f.view.events.first(),
                 "running " + (everyAddress ? f.mainAddress : f.engine.LocalAddress()));
        QStringList kept = f.log.filter("Impostazione ");
        if (refusal.isEmpty()) {
            QVERIFY(kept.isEmpty());
            // Empty: the engine's own value (the port box was filled with 21).
            const QString expected = normal.isEmpty()                        ? before
                                     : column == "ip" && normal == "Default" ? kEveryAddress
                                                                             : normal;
            QCOMPARE(engineValue(f.engine, column), expected);
        } else {
            QCOMPARE(engineValue(f.engine, column), before);
            QCOMPARE(kept, QStringList{"Impostazione " + column + ": \"" + text +
                                       "\" non valida, mantenuto " + before});
            // After the start line, not instead of it.
            QCOMPARE(f.log.indexOf(kept.first()), 2);
        }
    }

    // Without a reason from the engine nothing is logged (with one it is shown
    // and logged: e2e_lifecycle).
    void failedStartShowsTheEnginesReason() {
        Fixture f;
        f.engine.listenResult = false;
        QVERIFY(!f.controller.ServerStart());
        QCOMPARE(int(f.controller.ServerState()), 0);
        QVERIFY(f.log.isEmpty());
        QCOMPARE(f.view.events, QStringList({"failed " + kStartFailedMessage}));
    }

    // Options that cannot be used stop the start before the engine is
    // touched; the log and the view say which option and why.
    void invalidOptionsFailTheStart_data() {
        QTest::addColumn<OptionMap>("rows");
        QTest::addColumn<QString>("readError");
        QTest::addColumn<QStringList>("reasons");
        addRow("unknown word", OptionMap{{"tls", "bogus"}}, QString(),
               QStringList{"Opzione tls: bogus non è un valore ammesso (off, on, required)"});
        addRow("two reasons", OptionMap{{"tls_implicit_port", "70000"}, {"tls_session_reuse", "2"}},
               QString(),
               QStringList{"Opzione tls_implicit_port: 70000 non è una porta valida (1-65535, 0 "
                           "= nessuna)",
                           "Opzione tls_session_reuse: 2 non è un valore ammesso (0 = no, 1 = "
                           "sì)"});
        addRow("unreadable table", OptionMap{{"tls", "on"}}, QString("la tabella options non va"),
               QStringList{"la tabella options non va"});
    }
    void invalidOptionsFailTheStart() {
        QFETCH(OptionMap, rows);
        QFETCH(QString, readError);
        QFETCH(QStringList, reasons);
        Fixture f;
        f.controller.setOptionSource([&] { return access::OptionRows{rows, readError}; }, "/data");
        int prepared = 0;
        f.controller.setPrepareCertificate([&](const ftp::TlsSettings&) {
            ++prepared;
            return QString();
        });
        QVERIFY(!f.controller.ServerStart());
        QCOMPARE(f.engine.listenCalls, 0);
        QCOMPARE(prepared, 0);
        QCOMPARE(int(f.engine.Port()), 21); // nothing handed over
        QCOMPARE(int(f.controller.ServerState()), 0);
        f.expectFailure(reasons);
    }

    // Without confined opening nothing is served: the start fails first,
    // before the options are read or the engine is touched.
    void noConfinedOpeningFailsTheStart() {
        Fixture f;
        f.controller.setOptionSource(
            [&] {
                return access::OptionRows{{{"tls", "bogus"}}, {}};
            },
            "/data");
        f.controller.setConfinedOpeningCheck([] { return false; });
        QVERIFY(!f.controller.ServerStart());
        QCOMPARE(f.engine.listenCalls, 0);
        QCOMPARE(int(f.controller.ServerState()), 0);
        f.expectFailure({kNoConfinedOpening});
    }

    void tlsSettingsHandedOverAndCertificatePrepared() {
        Fixture f;
        f.rows = {{"tls", "on"}, {"tls_implicit_port", "990"}};
        f.useRows();
        QList<ftp::TlsSettings> prepared;
        QString problem;
        f.controller.setPrepareCertificate([&](const ftp::TlsSettings& tls) {
            prepared << tls;
            return problem;
        });
        QVERIFY(f.controller.ServerStart()); // what the engine then serves: e2e_ftps
        QCOMPARE(prepared.size(), 1);
        f.controller.ServerStop();

        // A certificate that cannot be made ready fails the start before Listen.
        problem = "tls_certificate: impossibile scrivere /data/kestrova-cert.pem";
        f.log.clear();
        f.view.events.clear();
        QVERIFY(!f.controller.ServerStart());
        QCOMPARE(f.engine.listenCalls, 1);
        f.expectFailure({problem});

        // With TLS off nothing is prepared and the engine gets TLS off.
        f.rows = {{"tls", "off"}};
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(prepared.size(), 2);
        QCOMPARE(int(f.engine.Tls().mode), int(ftp::TlsMode::Off));
    }

    void logLimitsAndStartNotesFollowTheStart() {
        Fixture f;
        f.rows = {{"log_max_mib", "2"}, {"log_keep", "3"}};
        f.useRows();
        QList<QPair<qint64, int>> limits;
        f.controller.setLogLimits([&](qint64 bytes, int keep) { limits.append({bytes, keep}); });
        f.controller.setStartNotes([] { return QStringList{"voce \"x\" non valida"}; });
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(limits, (QList<QPair<qint64, int>>{{2 * 1024 * 1024, 3}}));
        QCOMPARE(f.log.mid(1),
                 (QStringList{kAt + "SERVER START ON IP 127.0.0.1", "voce \"x\" non valida"}));
        f.controller.ServerStop();

        f.rows.clear(); // no rows: the log grows without limit, as it always did
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(limits.last(), (QPair<qint64, int>{0, 5}));
        f.controller.ServerStop();

        // The ban rules go to their keeper (the connection limits to the engine: e2e_limits).
        f.rows = {{"ban_attempts", "4"}};
        QList<kv::session::BanRules> rules;
        f.controller.setBanRules([&](const kv::session::BanRules& r) { rules.append(r); });
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(rules, (QList<kv::session::BanRules>{{4, 600000, 600000}}));
        // A reread keeps the bans (and their rules) unless the rules change.
        QVERIFY(f.controller.ServerReload());
        QCOMPARE(rules.size(), 1);
        f.rows.insert("ban_attempts", "6");
        QVERIFY(f.controller.ServerReload());
        QCOMPARE(rules.last(), (kv::session::BanRules{6, 600000, 600000}));
    }

    void passiveSettingsHandedOverAndHostFollowed() {
        Fixture f;
        f.rows = {{"passive_ports", "50000-50010"}, {"passive_address", "ftp.example.net"}};
        f.useRows();
        QStringList asked;
        f.controller.setHostLookup(
            [&](const QString& name, QObject* context, PassiveAddressResolver::Answer answer) {
                asked << name;
                QMetaObject::invokeMethod(
                    context, [answer] { answer({QHostAddress("198.51.100.4")}); },
                    Qt::QueuedConnection);
            },
            60000);
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(asked, QStringList{"ftp.example.net"});
        QCOMPARE(f.engine.Passive(), (ftp::PassiveSettings{50000, 50010, {}}));
        QTRY_COMPARE(f.engine.Passive().publicAddress, QHostAddress("198.51.100.4"));
        QCOMPARE(f.log.last(), kAt + "Indirizzo passivo: ftp.example.net = 198.51.100.4");
        f.controller.ServerStop();

        // The next start begins from the options again: no range, no name to follow.
        f.rows = {{"passive_address", "203.0.113.7"}};
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(f.engine.Passive(), (ftp::PassiveSettings{0, 0, QHostAddress("203.0.113.7")}));
        QCOMPARE(asked.size(), 1);
    }

    // A reread hands the engine nothing it cannot check first, and logs each
    // outcome; the view is not touched. (A port the engine cannot take: e2e_reload.)
    void reloadWhileRunning() {
        Fixture f;
        QVERIFY(!f.controller.ServerReload()); // stopped: nothing to reread
        QVERIFY(f.controller.ServerStart());
        f.log.clear();
        f.view.events.clear();
        f.boxes.values[ServerBox::Port] = "porta";
        QVERIFY(!f.controller.ServerReload());
        QCOMPARE(f.engine.relistenCalls, 0);
        QCOMPARE(int(f.engine.Port()), 2121);
        f.boxes.values[ServerBox::Port] = "2122";
        QVERIFY(f.controller.ServerReload());
        QCOMPARE(f.engine.relistenCalls, 1);
        QCOMPARE(int(f.engine.Port()), 2122);
        QCOMPARE(int(f.controller.ServerState()), 1);
        const QString at = kAt + "SERVER RELOAD ";
        QCOMPARE(f.log, QStringList({at + "FAILED: Porta non valida: \"porta\" (1-65535)",
                                     at + "ON IP 127.0.0.1 PORT 2122"}));
        QVERIFY(f.view.events.isEmpty());
    }

    // "Default" listens on every address of the PC (IPv6 and IPv4 together),
    // and what the operator reads names the address clients use: the PC's
    // main one, or 127.0.0.1 on a PC with nothing but loopback; never "".
    void everyAddressNamesTheMainOne_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("main");
        QTest::addColumn<QString>("listened");
        QTest::addColumn<QString>("shown");
        addRow("Default", "Default", "192.0.2.9", "::", "192.0.2.9");
        addRow("Default, only loopback", "default", "", "::", "127.0.0.1");
        addRow("empty: every IPv4 address", "", "192.0.2.9", "", "192.0.2.9");
        addRow("empty, only loopback", "", "", "", "127.0.0.1");
        addRow("chosen ::", "::", "192.0.2.9", "::", "::");
        addRow("chosen 0.0.0.0", "0.0.0.0", "", "0.0.0.0", "0.0.0.0");
        addRow("chosen address", "127.0.0.1", "192.0.2.9", "127.0.0.1", "127.0.0.1");
    }
    void everyAddressNamesTheMainOne() {
        QFETCH(QString, stored);
        QFETCH(QString, main);
        QFETCH(QString, listened);
        QFETCH(QString, shown);
        Fixture f;
        f.mainAddress = main;
        f.boxes.values[ServerBox::Address] = stored;
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(f.engine.LocalAddress(), listened);
        QCOMPARE(f.controller.shownAddress(), shown);
        QCOMPARE(f.view.events.first(), "running " + shown);
        QCOMPARE(f.log.mid(0, 2), (QStringList{"", kAt + "SERVER START ON IP " + shown}));
        f.log.clear();
        QVERIFY(f.controller.ServerReload());
        QCOMPARE(f.log, QStringList{kAt + "SERVER RELOAD ON IP " + shown + " PORT 2121"});

        // A reread that cannot be used keeps naming what runs.
        f.boxes.values[ServerBox::Address] = "casa";
        QVERIFY(!f.controller.ServerReload());
        QCOMPARE(f.controller.shownAddress(), shown);
    }

    // Sharing the whole disk keeps working, but every start and reread says
    // so, once for each way it is shared, naming how to share one folder.
    void wholeDiskIsWarnedAtEachStartAndReload() {
        QTemporaryDir dir;
        access::AccountDatabase db(dir.filePath("accounts.dat"));
        QVERIFY(db.open());
        QCOMPARE(testing::runSql(db.filePath(),
                                 {"INSERT INTO users (login, rootdir) VALUES ('bob', '/'), "
                                  "('amy', '" +
                                      dir.path() +
                                      "'), ('carl', ''), ('dee', NULL), "
                                      "('\"eve x', '//')",
                                  "UPDATE anonymous SET enabled = 1, rootdir = '/'"}),
                 QString());
        Fixture f;
        f.controller.setWholeDiskWarnings(
            [&](const QString& root) { return wholeDiskWarnings(root, db.connection()); });
        const QString defaultRoot = settings::wholeDiskWarning(
            "la cartella radice predefinita",
            "kestrova settings set rootdir CARTELLA (o Impostazioni, Percorso di default)");
        const QStringList accounts = {
            settings::wholeDiskWarning("l'account \"\\\"eve x\"",
                                       "kestrova user set \"\\\"eve x\" --root CARTELLA (o "
                                       "Account, Dettagli account)"),
            settings::wholeDiskWarning("l'account bob",
                                       "kestrova user set bob --root CARTELLA (o Account, Dettagli "
                                       "account)"),
            settings::wholeDiskWarning(
                "l'account anonimo",
                "kestrova anonymous on --root CARTELLA (o Account, Account anonimo)")};
        QVERIFY(f.controller.ServerStart()); // the fixture's root is a folder
        QCOMPARE(f.log.mid(2), accounts);

        // An empty default root is the whole disk too (an older database's).
        f.boxes.values[ServerBox::Root] = "";
        f.log.clear();
        QVERIFY(f.controller.ServerReload());
        QCOMPARE(f.log.mid(1), QStringList{defaultRoot} + accounts);
        f.controller.ServerStop();
        f.log.clear();
        QVERIFY(f.controller.ServerStart());
        QCOMPARE(f.log.mid(2), QStringList{defaultRoot} + accounts);

        // Folders of their own, or the anonymous account switched off: nothing to say.
        QCOMPARE(testing::runSql(db.filePath(), {"UPDATE users SET rootdir = '" + dir.path() +
                                                     "' WHERE rootdir IN ('/', '//')",
                                                 "UPDATE anonymous SET enabled = 0"}),
                 QString());
        f.boxes.values[ServerBox::Root] = dir.path();
        f.log.clear();
        QVERIFY(f.controller.ServerReload());
        QCOMPARE(f.log.size(), 1);
    }

    void startStopStartSequence() {
        Fixture f;
        f.controller.ServerStart();
        f.controller.ServerStop();
        f.controller.ServerStart();
        const QString start = kAt + "SERVER START ON IP 127.0.0.1";
        QCOMPARE(f.log, QStringList({"", start, kAt + "SERVER STOP", "", start}));
        QCOMPARE(f.view.events, QStringList({"running 127.0.0.1", "after start", "stopped",
                                             "running 127.0.0.1", "after start"}));
        QCOMPARE(f.engine.stopCalls, 1);
        QCOMPARE(int(f.controller.ServerState()), 1);
    }
};

QTEST_GUILESS_MAIN(TestServerController)
#include "test_servercontroller.moc"
