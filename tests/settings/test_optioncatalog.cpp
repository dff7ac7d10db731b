// The option catalog: every declared option accepts its values in normal
// form and refuses the rest with a message naming the option and the reason;
// the rules over several options; rows for a new database.

#include "settings/OptionCatalog.h"

#include <QTest>

using namespace kv::settings;

class TestOptionCatalog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachOptionIsDeclaredOnceWithADefaultItAccepts() {
        QStringList names;
        for (const OptionDef& option : optionCatalog().options()) {
            QVERIFY2(!names.contains(option.name), qPrintable(option.name));
            names.append(option.name);
            QVERIFY(!option.caption.isEmpty());
            const OptionCheck fallback = checkOption(option, option.defaultValue);
            QVERIFY2(fallback.ok(), qPrintable(fallback.error));
            QCOMPARE(fallback.value, option.defaultValue);
        }
        QCOMPARE(names, (QStringList{"tls", "tls_implicit_port", "tls_certificate",
                                     "tls_private_key", "tls_session_reuse", "tls_min_version",
                                     "tls_max_version", "log_max_mib", "log_keep", "passive_ports",
                                     "passive_address", "max_connections", "max_connections_per_ip",
                                     "ban_attempts", "ban_window_minutes", "ban_minutes"}));
    }

    void values_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value"); // the normal form, when accepted
        QTest::addColumn<QString>("error"); // the message, when refused
        const auto ok = [](const char* row, const char* name, const QString& text,
                           const QString& value) {
            QTest::newRow(row) << QString(name) << text << value << QString();
        };
        const auto bad = [](const char* row, const char* name, const QString& text,
                            const QString& error) {
            QTest::newRow(row) << QString(name) << text << QString() << error;
        };
        // Refused with the usual message: the option, the text, then the reason.
        const auto rej = [&bad](const char* row, const char* name, const QString& text,
                                const QString& why) {
            bad(row, name, text, "Opzione " + QString(name) + ": " + text + why);
        };
        ok("tls off", "tls", "off", "off");
        ok("tls on", "tls", "on", "on");
        ok("tls required, any case and spaces", "tls", " Required ", "required");
        ok("tls empty is the default", "tls", "", "off");
        rej("tls unknown word", "tls", "bogus", " non è un valore ammesso (off, on, required)");
        rej("tls a prefix", "tls", "req", " non è un valore ammesso (off, on, required)");
        ok("port none", "tls_implicit_port", "0", "0");
        ok("port lowest", "tls_implicit_port", "1", "1");
        ok("port highest", "tls_implicit_port", "65535", "65535");
        ok("port leading zeros", "tls_implicit_port", "00990", "990");
        ok("port empty is none", "tls_implicit_port", "  ", "0");
        const QString portWhy = " non è una porta valida (1-65535, 0 = nessuna)";
        rej("port past the top", "tls_implicit_port", "70000", portWhy);
        rej("port one past", "tls_implicit_port", "65536", portWhy);
        rej("port negative", "tls_implicit_port", "-1", portWhy);
        rej("port signed", "tls_implicit_port", "+990", portWhy);
        rej("port words", "tls_implicit_port", "990a", portWhy);
        rej("port huge", "tls_implicit_port", "99999999999999999999", portWhy);
        rej("port other digits", "tls_implicit_port", QString::fromUtf8("٩٩٠"), portWhy);
        ok("certificate path", "tls_certificate", "/etc/ssl/a b.pem", "/etc/ssl/a b.pem");
        ok("certificate empty", "tls_certificate", "", "");
        bad("key with a line break", "tls_private_key", "/a\nb",
            "Opzione tls_private_key: il percorso contiene caratteri di controllo non ammessi");
        ok("reuse off", "tls_session_reuse", "0", "0");
        ok("reuse on", "tls_session_reuse", "1", "1");
        ok("reuse empty is on", "tls_session_reuse", "", "1");
        rej("reuse two", "tls_session_reuse", "2", " non è un valore ammesso (0 = no, 1 = sì)");
        rej("reuse a word", "tls_session_reuse", "yes",
            " non è un valore ammesso (0 = no, 1 = sì)");
        ok("min 1.2", "tls_min_version", "1.2", "1.2");
        ok("max 1.3", "tls_max_version", "1.3", "1.3");
        rej("min 1.1", "tls_min_version", "1.1", " non è una versione ammessa (1.2, 1.3)");
        rej("max 1.30", "tls_max_version", "1.30", " non è una versione ammessa (1.2, 1.3)");
        ok("range", "passive_ports", "50000-50100", "50000-50100");
        ok("range of one port, spaces", "passive_ports", " 1024 - 01024 ", "1024-1024");
        ok("range up to the top", "passive_ports", "65000-65535", "65000-65535");
        ok("range empty is none", "passive_ports", "", "");
        const QString rangeWhy = " non è un intervallo di porte valido (PRIMA-ULTIMA, porte da "
                                 "1024 a 65535, per esempio 50000-50100)";
        rej("range below 1024", "passive_ports", "1023-2000", rangeWhy);
        rej("range past the top", "passive_ports", "65000-65536", rangeWhy);
        rej("range one port", "passive_ports", "50000", rangeWhy);
        rej("range three ends", "passive_ports", "1-2-3", rangeWhy);
        rej("range negative", "passive_ports", "-5000", rangeWhy);
        rej("range words", "passive_ports", "a-b", rangeWhy);
        bad("range upside down", "passive_ports", "50100-50000",
            "Opzione passive_ports: 50100-50000 non è un intervallo valido: la prima porta "
            "(50100) è più alta dell'ultima (50000)");
        ok("public IPv4", "passive_address", "203.0.113.7", "203.0.113.7");
        ok("public name, lower case", "passive_address", " Ftp.Example.COM ", "ftp.example.com");
        ok("public name, one label", "passive_address", "router", "router");
        ok("public name, final dot", "passive_address", "a-b.example.", "a-b.example.");
        ok("public empty is the connected address", "passive_address", "", "");
        const QString reachWhy = " non è un indirizzo a cui i client possano collegarsi";
        const QString nameWhy = " non è un indirizzo IPv4 né un nome di host valido";
        rej("public IPv4 byte too big", "passive_address", "203.0.113.256",
            " non è un indirizzo IPv4 valido");
        rej("public IPv4 any", "passive_address", "0.0.0.0", reachWhy);
        rej("public IPv4 multicast", "passive_address", "224.0.0.1", reachWhy);
        rej("public IPv6", "passive_address", "2001:db8::1",
            " è un indirizzo IPv6: le risposte PASV possono contenere solo un indirizzo IPv4 o "
            "un nome di host");
        rej("public short address", "passive_address", "10.1", nameWhy);
        rej("public name with space", "passive_address", "my host", nameWhy);
        rej("public name, label ends in dash", "passive_address", "a-.example", nameWhy);
        rej("public name, empty label", "passive_address", "a..example", nameWhy);
        bad("public name, label too long", "passive_address", QString(64, u'a') + ".example",
            "Opzione passive_address: " + QString(60, u'a') + "..." + nameWhy);
        rej("public with port", "passive_address", "203.0.113.7:21", nameWhy);
        ok("no connection limit", "max_connections_per_ip", "0", "0");
        rej("a window of no minutes", "ban_window_minutes", "0",
            " non è un numero intero da 1 a 1440");
        bad("unknown option", "tls_colour", "blue", "Opzione sconosciuta: tls_colour");
        bad("long text cut", "tls", QString(80, u'x'),
            "Opzione tls: " + QString(60, u'x') +
                "... non è un valore ammesso (off, on, required)");
    }
    void values() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, value);
        QFETCH(QString, error);
        const OptionCheck checked = optionCatalog().check(name, text);
        QCOMPARE(checked.error, error);
        QCOMPARE(checked.ok(), error.isEmpty());
        QCOMPARE(checked.value, value);
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
        row("unknown rows ignored", {"passive_colour=red", "tls=on"}, "on", "1.2", {});
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
        QVERIFY(!set.values.contains("passive_colour"));
    }

    void newDatabaseRowsComeFromTheDeclaration() {
        // A file the program creates limits its log; a missing row never does.
        QCOMPARE(optionCatalog().newDatabaseRows(),
                 (QMap<QString, QString>{{"log_max_mib", "10"},
                                         {"log_keep", "5"},
                                         {"passive_ports", ""},
                                         {"passive_address", ""},
                                         {"max_connections", "100"},
                                         {"max_connections_per_ip", "10"},
                                         {"ban_attempts", "5"},
                                         {"ban_window_minutes", "10"},
                                         {"ban_minutes", "10"}}));
        QCOMPARE(optionCatalog().find("log_max_mib")->defaultValue, QString("0"));
        OptionDef limit{"max_connections", OptionKind::Integer,   {}, 0, 1000, "0",
                        "Connessioni",     QStringLiteral("100"), {}};
        // A kind of value of its own comes with its own check, in the same row.
        const auto dash = [](const OptionDef& option, const QString& text) {
            return text.contains(u'-') ? OptionCheck{text, {}}
                                       : OptionCheck{{}, "Opzione " + option.name + ": no"};
        };
        OptionDef range{
            "passive_ports", OptionKind::Custom, {}, 0, 0, "", "Porte passive", "", dash};
        const OptionCatalog catalog({limit, range}, {});
        QCOMPARE(catalog.newDatabaseRows(),
                 (QMap<QString, QString>{{"max_connections", "100"}, {"passive_ports", ""}}));
        QCOMPARE(catalog.check("max_connections", "1000").value, QString("1000"));
        QCOMPARE(catalog.check("max_connections", "1001").error,
                 QString("Opzione max_connections: 1001 non è un numero intero da 0 a 1000"));
        QCOMPARE(catalog.check("passive_ports", " 50000-50100 ").value, QString("50000-50100"));
        QCOMPARE(catalog.check("passive_ports", "50000").error,
                 QString("Opzione passive_ports: no"));
        QCOMPARE(catalog.check("passive_ports", "").value, QString());
    }
};

QTEST_GUILESS_MAIN(TestOptionCatalog)
#include "test_optioncatalog.moc"
