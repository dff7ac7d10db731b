// The option catalog: every declared option accepts its values in normal
// form and refuses the rest with a message naming the option and the reason;
// the rules over several options; rows and the port for a new database; the
// per-user settings store's values as text, with defaults for missing ones.

#include "settings/OptionCatalog.h"
#include "settings/PortPrivilege.h"
#include "settings/SettingsStore.h"
#include "tests/support/SettingValues.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;
using namespace kv::settings;

class TestOptionCatalog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The options in the order the panels show them; the settings row's order
    // is the one its refusal lists (settingsRowValues).
    void eachOptionIsDeclaredOnceWithADefaultItAccepts() {
        QStringList names;
        for (OptionStore store : {OptionStore::SettingsRow, OptionStore::Options}) {
            names.clear();
            for (const OptionDef& option : optionCatalog().options(store)) {
                QVERIFY2(!names.contains(option.name), qPrintable(option.name));
                names.append(option.name);
                QVERIFY(!option.caption.isEmpty());
                const OptionCheck fallback = checkOption(option, option.defaultValue);
                QVERIFY2(fallback.ok(), qPrintable(fallback.error));
                QCOMPARE(fallback.value, option.defaultValue);
            }
        }
        QCOMPARE(names.join(u' '),
                 QStringLiteral(
                     "tls tls_implicit_port tls_certificate tls_private_key "
                     "tls_session_reuse tls_min_version tls_max_version "
                     "acme acme_domains acme_email acme_directory acme_ca_file acme_challenge "
                     "acme_http_port acme_tls_port acme_renew_percent log_max_mib "
                     "log_keep passive_ports passive_address max_connections "
                     "max_connections_per_ip ban_attempts ban_window_minutes ban_minutes "
                     "action_timeout_seconds action_max_running mail_batch_seconds "
                     "mail_server mail_security mail_ca_file mail_user mail_password "
                     "mail_from sftp_port sftp_password_auth rate_up_kib rate_down_kib "
                     "rate_ip_up_kib rate_ip_down_kib rate_local_exempt "
                     "quota_warn_percent admin_port admin_address admin_allowed "
                     "admin_remote_actions"));
    }

    // Per option: texts accepted as "text => normal form"; texts refused as "text", the
    // message then being the option, the text and `why`, or as "text => whole message".
    void values_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("accepted");
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QString>("why");
        const auto row = [](const char* row, const char* name, const QStringList& accepted,
                            const QStringList& refused = {}, const QString& why = {}) {
            QTest::newRow(row) << QString(name) << accepted << refused << why;
        };
        row("tls, any case and spaces, long text cut", "tls",
            {"off => off", "on => on", " Required  => required", " => off"},
            {"bogus", "req",
             QString(80, u'x') + " => Opzione tls: " + QString(60, u'x') +
                 "... non è un valore ammesso (off, on, required)"},
            " non è un valore ammesso (off, on, required)");
        row("implicit port", "tls_implicit_port",
            {"0 => 0", "1 => 1", "65535 => 65535", "00990 => 990", "   => 0"},
            {"70000", "65536", "-1", "+990", "990a", "99999999999999999999",
             QString::fromUtf8("٩٩٠")},
            " non è una porta valida (1-65535, 0 = nessuna)");
        row("certificate and key paths", "tls_certificate",
            {"/etc/ssl/a b.pem => /etc/ssl/a b.pem", " => "});
        row("key with a line break", "tls_private_key", {},
            {"/a\nb => Opzione tls_private_key: il percorso contiene caratteri di controllo "
             "non ammessi"});
        row("session reuse", "tls_session_reuse", {"0 => 0", "1 => 1", " => 1"}, {"2", "yes"},
            " non è un valore ammesso (0 = no, 1 = sì)");
        row("min version", "tls_min_version", {"1.2 => 1.2"}, {"1.1"},
            " non è una versione ammessa (1.2, 1.3)");
        row("max version", "tls_max_version", {"1.3 => 1.3"}, {"1.30"},
            " non è una versione ammessa (1.2, 1.3)");
        row("passive range", "passive_ports",
            {"50000-50100 => 50000-50100", " 1024 - 01024  => 1024-1024",
             "65000-65535 => 65000-65535", " => "},
            {"1023-2000", "65000-65536", "50000", "1-2-3", "-5000", "a-b",
             "50100-50000 => Opzione passive_ports: 50100-50000 non è un intervallo valido: la "
             "prima porta (50100) è più alta dell'ultima (50000)"},
            " non è un intervallo di porte valido (PRIMA-ULTIMA, porte da 1024 a 65535, per "
            "esempio 50000-50100)");
        const QString longLabel = QString(64, u'a') + ".example";
        row("public name", "passive_address",
            {"203.0.113.7 => 203.0.113.7", " Ftp.Example.COM  => ftp.example.com",
             "router => router", "a-b.example. => a-b.example.", " => "},
            {"10.1", "my host", "a-.example", "a..example", "203.0.113.7:21",
             longLabel + " => Opzione passive_address: " + QString(60, u'a') +
                 "... non è un indirizzo IPv4 né un nome di host valido"},
            " non è un indirizzo IPv4 né un nome di host valido");
        row("public address unreachable", "passive_address", {}, {"0.0.0.0", "224.0.0.1"},
            " non è un indirizzo a cui i client possano collegarsi");
        row("public IPv4 byte too big", "passive_address", {}, {"203.0.113.256"},
            " non è un indirizzo IPv4 valido");
        row("public IPv6", "passive_address", {}, {"2001:db8::1"},
            " è un indirizzo IPv6: le risposte PASV possono contenere solo un indirizzo IPv4 o "
            "un nome di host");
        row("no connection limit", "max_connections_per_ip", {"0 => 0"});
        row("a speed limit in whole KiB/s", "rate_down_kib", {"0 => 0", "10240 => 10240"},
            {"-1", "1.5", "10M", "16777217"}, " non è un numero intero da 0 a 16777216");
        row("a warning share", "quota_warn_percent", {"0 => 0", "80 => 80"}, {"101"},
            " non è un numero intero da 0 a 100");
        row("a window of no minutes", "ban_window_minutes", {}, {"0"},
            " non è un numero intero da 1 a 1440");
        row("mail server", "mail_server",
            {"smtp.example.org => smtp.example.org", "127.0.0.1:2525 => 127.0.0.1:2525",
             "[::1]:25 => [::1]:25"},
            {"smtp.example.org:0", "smtp.example.org:65536", "a b", "host:port"},
            " non è un server (host oppure host:porta)");
        row("administration address", "admin_address",
            {"127.0.0.1 => 127.0.0.1", " ::1 => ::1", " => "}, {"example.org", "224.0.0.1"},
            " non è un indirizzo IP del PC");
        row("administration allowed", "admin_allowed",
            {" 10.0.0.0/8 ,192.168.1.1-192.168.1.9,, ::1 => 10.0.0.0/8, 192.168.1.1-192.168.1.9, "
             "::1",
             " => 127.0.0.0/8, ::1, 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, fc00::/7, "
             "fe80::/10"},
            {"10.0.0.0/8, casa => Opzione admin_allowed: Voce non valida: \"casa\" non è un "
             "indirizzo, un blocco CIDR, un intervallo o un indirizzo con *",
             ", , => Opzione admin_allowed: , , non contiene alcun indirizzo"});
        row("mail sender", "mail_from", {"ftp@ufficio.example => ftp@ufficio.example"},
            {"ufficio", "a@b@c", "a b@c"}, " non è un indirizzo e-mail");
        row("mail security", "mail_security", {"STARTTLS => starttls", "none => none"}, {"ssl"},
            " non è un valore ammesso (starttls, tls, none)");
        row("unknown option", "tls_colour", {}, {"blue => Opzione sconosciuta: tls_colour"});
        row("a settings column is no option", "port", {}, {"21 => Opzione sconosciuta: port"});
    }
    void values() {
        QFETCH(QString, name);
        QFETCH(QStringList, accepted);
        QFETCH(QStringList, refused);
        QFETCH(QString, why);
        const QString arrow = QStringLiteral(" => ");
        for (const QString& pair : accepted) {
            const OptionCheck checked = optionCatalog().check(name, pair.section(arrow, 0, 0));
            QVERIFY2(checked.ok(), qPrintable(pair + ": " + checked.error));
            QCOMPARE(checked.value, pair.section(arrow, 1));
        }
        for (const QString& entry : refused) {
            const QString text = entry.section(arrow, 0, 0);
            const OptionCheck checked = optionCatalog().check(name, text);
            QCOMPARE(checked.error, entry.contains(arrow) ? entry.section(arrow, 1)
                                                          : "Opzione " + name + ": " + text + why);
            QVERIFY(!checked.ok());
            QCOMPARE(checked.value, QString());
        }
    }

    void settingsRowValues_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("normal");
        QTest::addColumn<QString>("refusal");
        for (const kv::testing::SettingValue& v : kv::testing::settingValues())
            QTest::newRow(v.row) << v.column << v.text << v.normal << v.refusal;
        QTest::newRow("an option is no settings column")
            << "tls"
            << "on"
            << ""
            << "Impostazione sconosciuta: tls (ip, port, rootdir, start, timeout, log, IPok, IPko, "
               "debugmode, resolvelinks, datalingertime, minimized)";
    }
    void settingsRowValues() {
        QFETCH(QString, column);
        QFETCH(QString, text);
        const OptionCheck checked = optionCatalog().check(column, text, OptionStore::SettingsRow);
        QTEST(checked.error, "refusal");
        QTEST(checked.value, "normal");
    }

    void checkAllGivesEveryValueAndEveryReason_data() {
        QTest::addColumn<QStringList>("rows"); // name=value
        QTest::addColumn<QString>("tls");
        QTest::addColumn<QString>("minVersion");
        QTest::addColumn<QStringList>("errors");
        const auto row = [](const char* name, const QStringList& rows, const char* tls,
                            const char* minVersion, const QStringList& errors) {
            QTest::newRow(name) << rows << QString(tls) << QString(minVersion) << errors;
        };
        row("no rows: defaults", {}, "off", "1.2", {});
        row("unknown rows and settings columns ignored",
            {"passive_colour=red", "port=21", "tls=on"}, "on", "1.2", {});
        row("two bad values, two reasons, defaults kept",
            {"tls=bogus", "tls_session_reuse=7", "tls_min_version=1.3"}, "off", "1.3",
            {"Opzione tls: bogus non è un valore ammesso (off, on, required)",
             "Opzione tls_session_reuse: 7 non è un valore ammesso (0 = no, 1 = sì)"});
        row("minimum above maximum", {"tls_min_version=1.3", "tls_max_version=1.2"}, "off", "1.3",
            {"Opzioni tls_min_version e tls_max_version: la versione minima (1.3) è più alta "
             "della massima (1.2)"});
        row("minimum equal to maximum", {"tls_min_version=1.3", "tls_max_version=1.3"}, "off",
            "1.3", {});
        row("a bad version says so once", {"tls_min_version=1.3", "tls_max_version=9"}, "off",
            "1.3", {"Opzione tls_max_version: 9 non è una versione ammessa (1.2, 1.3)"});
    }
    void checkAllGivesEveryValueAndEveryReason() {
        QFETCH(QStringList, rows);
        QMap<QString, QString> map;
        for (const QString& row : rows)
            map.insert(row.section(u'=', 0, 0), row.section(u'=', 1));
        const OptionSet set = optionCatalog().checkAll(map);
        QTEST(set.errors, "errors");
        QTEST(set.value("tls"), "tls");
        QTEST(set.value("tls_min_version"), "minVersion");
        QCOMPARE(set.values.size(), optionCatalog().options().size());
        QVERIFY(!set.values.contains("passive_colour") && !set.values.contains("port"));
    }

    // A catalog of other declarations: the rows a new database starts with,
    // and a kind of value of its own checked by its own function.
    void newDatabaseRowsComeFromTheDeclaration() {
        const auto dash = [](const OptionDef& option, const QString& text) {
            return text.contains(u'-') ? OptionCheck{text, {}}
                                       : OptionCheck{{}, "Opzione " + option.name + ": no"};
        };
        const OptionCatalog catalog(
            {OptionDef{"max_connections", OptionKind::Integer, QStringList(), 0, 1000, "0",
                       "Connessioni", "100", nullptr, OptionStore::Options, QString()},
             OptionDef{"passive_ports", OptionKind::Custom, QStringList(), 0, 0, "",
                       "Porte passive", "", dash, OptionStore::Options, QString()}},
            {});
        QCOMPARE(catalog.newDatabaseRows(),
                 (QMap<QString, QString>{{"max_connections", "100"}, {"passive_ports", ""}}));
        QCOMPARE(catalog.check("max_connections", "1000").value, QString("1000"));
        QCOMPARE(catalog.check("max_connections", "1001").error,
                 QString("Opzione max_connections: 1001 non è un numero intero da 0 a 1000"));
        QCOMPARE(catalog.check("passive_ports", " 50000-50100 ").value, QString("50000-50100"));
        QCOMPARE(catalog.check("passive_ports", "50000").error,
                 QString("Opzione passive_ports: no"));
        QCOMPARE(catalog.check("passive_ports", "").value, QString());
        QCOMPARE(newDatabasePort(true), QString("21"));
        QCOMPARE(newDatabasePort(false), QString("2121"));
    }

    // Whether a port may be bound, read from a /proc of the test's own making.
    void mayBindPort_data() {
        QTest::addColumn<QByteArray>("firstFree"); // ip_unprivileged_port_start; empty: no file
        QTest::addColumn<QByteArray>("status");    // /proc/self/status; empty: no file
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("allowed");
        const QByteArray plain = "Name:\tkestrova\nCapEff:\t0000000000000000\nCapBnd:\t1ff\n";
        const QByteArray bind = "Name:\tkestrova\nCapEff:\t0000000000000400\n";
        const QByteArray root = "CapEff:\t000001ffffffffff\n";
        QTest::newRow("user, port 21") << QByteArray("1024\n") << plain << 21 << false;
        QTest::newRow("user, port 1023") << QByteArray("1024") << plain << 1023 << false;
        QTest::newRow("user, port 1024") << QByteArray("1024") << plain << 1024 << true;
        QTest::newRow("user, first port lowered") << QByteArray("0") << plain << 21 << true;
        QTest::newRow("service granted the capability") << QByteArray("1024") << bind << 21 << true;
        QTest::newRow("root") << QByteArray("1024") << root << 21 << true;
        QTest::newRow("nothing readable: allowed") << QByteArray() << QByteArray() << 21 << true;
        QTest::newRow("no capabilities line: allowed")
            << QByteArray("1024") << QByteArray("Name:\tx\n") << 21 << true;
    }
    void mayBindPort() {
        QFETCH(QByteArray, firstFree);
        QFETCH(QByteArray, status);
        QFETCH(int, port);
        QTemporaryDir proc;
        QVERIFY(QDir(proc.path()).mkpath("sys/net/ipv4") && QDir(proc.path()).mkpath("self"));
        const auto write = [&](const QString& path, const QByteArray& text) {
            if (text.isEmpty())
                return;
            QFile file(proc.filePath(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        };
        write("sys/net/ipv4/ip_unprivileged_port_start", firstFree);
        write("self/status", status);
        QTEST(kv::settings::mayBindPort(quint16(port), proc.path()), "allowed");
    }

    void valuesComeBackAsTheSameTextFromAPlainFile() {
        // Texts a settings file could take for lists, variants or escapes.
        const QStringList values = {
            "", "1", "a,b", "@Variant(x)", "  two words  ", "perché è così", "a\"b;c=d"};
        QTemporaryDir dir;
        for (int i = 0; i < values.size(); ++i)
            QtSettingsStore(dir.path())
                .setValue(kAppTarrow, kSectionAppIni, QString::number(i), values[i]);
        // A new store (as at the next start) reads the same texts; a stored
        // empty text is a value, not a missing one.
        QtSettingsStore later(dir.path());
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(later.value(kAppTarrow, kSectionAppIni, QString::number(i), "-"), values[i]);
        QCOMPARE(later.value(kAppTarrow, kSectionAppIni, "missing", "8040"),
                 QStringLiteral("8040"));
        // Applications and sections are kept apart.
        QCOMPARE(later.value(kAppKestrova, kSectionAppIni, "1", "-"), QStringLiteral("-"));
        QCOMPARE(later.value(kAppTarrow, "Other", "1", "-"), QStringLiteral("-"));
        // The file is plain text in the given folder, and one edited by hand is read as text.
        QFile written(QDir(dir.path()).filePath("Kestrova Tarrow.ini"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("[AppIni]\n0=\n1=1\n"));
        QFile edited(QDir(dir.path()).filePath("Kestrova.ini"));
        QVERIFY(edited.open(QIODevice::WriteOnly));
        edited.write("[AppIni]\nlist=a,b\n");
        edited.close();
        QCOMPARE(QtSettingsStore(dir.path()).value(kAppKestrova, kSectionAppIni, "list"),
                 QStringLiteral("a,b"));
    }

    void fileLandsInThePerUserConfigurationFolder() {
        const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (configHome.isEmpty() || !QDir(configHome).isAbsolute())
            QSKIP("the configuration folder is not redirected for this run");
        const QString folder = configHome + "/Kestrova Vellim";
        QDir(folder).removeRecursively();
        QtSettingsStore().setValue(kAppTarrow, kSectionAppIni, "Height", "7000");
        QVERIFY(QFileInfo::exists(folder + "/Kestrova Tarrow.ini"));
        QCOMPARE(QtSettingsStore().value(kAppTarrow, kSectionAppIni, "Height"),
                 QStringLiteral("7000"));
        QDir(folder).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestOptionCatalog)
#include "test_optioncatalog.moc"
