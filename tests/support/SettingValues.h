#pragma once
// Values of the settings row with what the catalog makes of them: the normal
// form of an accepted text, or the Italian message of a refused one. The
// catalog's own test reads the whole table; the settings panel and the server
// start read a sample of it, so all three are held to the same words.

#include <QDir>
#include <QList>
#include <QSet>
#include <QString>

namespace kv::testing {

struct SettingValue {
    const char* row;   // the row's name in a _data() table
    QString column;    // the settings column
    QString text;      // as typed or stored
    QString normal;    // accepted: its normal form
    QString refusal;   // refused: the message; empty when accepted
    bool typedInPanel; // the Impostazioni panel has a box for the column
};

// A folder that does not exist on any test machine.
inline QString missingFolder() {
    return QDir::tempPath() + QStringLiteral("/kv-no-such-folder/x");
}

inline QList<SettingValue> settingValues() {
    const auto ok = [](const char* row, const char* column, const QString& text,
                       const QString& normal, bool typed) {
        return SettingValue{row, QString::fromLatin1(column), text, normal, QString(), typed};
    };
    const auto no = [](const char* row, const char* column, const QString& text,
                       const QString& refusal, bool typed) {
        return SettingValue{row, QString::fromLatin1(column), text, QString(), refusal, typed};
    };
    return {
        ok("ip default word", "ip", QStringLiteral(" DEFAULT "), QStringLiteral("Default"), true),
        ok("ip v4", "ip", QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"), true),
        ok("ip v6", "ip", QStringLiteral("::1"), QStringLiteral("::1"), true),
        ok("ip empty: every IPv4 address", "ip", QString(), QString(), true),
        no("ip word", "ip", QStringLiteral("casa"),
           QStringLiteral("Indirizzo IP non valido: \"casa\" (un indirizzo o Default)"), true),
        no("ip with port", "ip", QStringLiteral("127.0.0.1:21"),
           QStringLiteral("Indirizzo IP non valido: \"127.0.0.1:21\" (un indirizzo o Default)"),
           true),
        ok("port", "port", QStringLiteral(" 02121 "), QStringLiteral("2121"), true),
        ok("port highest", "port", QStringLiteral("65535"), QStringLiteral("65535"), true),
        ok("port empty: 21", "port", QString(), QStringLiteral("21"), true),
        no("port zero", "port", QStringLiteral("0"),
           QStringLiteral("Porta non valida: \"0\" (1-65535)"), true),
        no("port too high", "port", QStringLiteral("65536"),
           QStringLiteral("Porta non valida: \"65536\" (1-65535)"), true),
        no("port negative", "port", QStringLiteral("-21"),
           QStringLiteral("Porta non valida: \"-21\" (1-65535)"), true),
        no("port with a fraction", "port", QStringLiteral("21.5"),
           QStringLiteral("Porta non valida: \"21.5\" (1-65535)"), true),
        no("port word", "port", QStringLiteral("porta"),
           QStringLiteral("Porta non valida: \"porta\" (1-65535)"), true),
        ok("root existing", "rootdir", QDir::tempPath(), QDir::tempPath(), true),
        no("root missing", "rootdir", missingFolder(),
           QStringLiteral("La cartella \"%1\" non esiste").arg(missingFolder()), true),
        ok("timeout", "timeout", QStringLiteral("60"), QStringLiteral("60"), true),
        ok("timeout half to even, down", "timeout", QStringLiteral("62.5"), QStringLiteral("62"),
           true),
        ok("timeout half to even, up", "timeout", QStringLiteral("63.5"), QStringLiteral("64"),
           true),
        ok("timeout highest", "timeout", QStringLiteral("32767"), QStringLiteral("32767"), true),
        ok("timeout empty: the engine's own", "timeout", QString(), QString(), true),
        no("timeout word", "timeout", QStringLiteral("abc"),
           QStringLiteral("Timeout non valido: \"abc\" (secondi, 0-32767; 0 = nessuno)"), true),
        no("timeout too long", "timeout", QStringLiteral("32768"),
           QStringLiteral("Timeout non valido: \"32768\" (secondi, 0-32767; 0 = nessuno)"), true),
        no("timeout rounds out of range", "timeout", QStringLiteral("32767.5"),
           QStringLiteral("Timeout non valido: \"32767.5\" (secondi, 0-32767; 0 = nessuno)"), true),
        no("timeout with a unit", "timeout", QStringLiteral("60s"),
           QStringLiteral("Timeout non valido: \"60s\" (secondi, 0-32767; 0 = nessuno)"), true),
        no("timeout exponent", "timeout", QStringLiteral("1e3"),
           QStringLiteral("Timeout non valido: \"1e3\" (secondi, 0-32767; 0 = nessuno)"), true),
        ok("debug mode lowest", "debugmode", QStringLiteral("-32768"), QStringLiteral("-32768"),
           false),
        no("debug mode too low", "debugmode", QStringLiteral("-32769"),
           QStringLiteral("Modalità di debug non valida: \"-32769\" (-32768-32767)"), false),
        ok("resolve links 32-bit", "resolvelinks", QStringLiteral("2147483647"),
           QStringLiteral("2147483647"), false),
        ok("resolve links, a half to even", "resolvelinks", QStringLiteral("-0.5"),
           QStringLiteral("0"), false),
        no("resolve links too big", "resolvelinks", QStringLiteral("2147483648"),
           QStringLiteral("Risoluzione dei collegamenti non valida: \"2147483648\" (un numero "
                          "intero)"),
           false),
        no("resolve links not finite", "resolvelinks", QStringLiteral("inf"),
           QStringLiteral("Risoluzione dei collegamenti non valida: \"inf\" (un numero intero)"),
           false),
        ok("data linger", "datalingertime", QStringLiteral("5"), QStringLiteral("5"), false),
        no("data linger negative", "datalingertime", QStringLiteral("-1"),
           QStringLiteral("Attesa sulle connessioni dati non valida: \"-1\" (secondi, 0-32767)"),
           false),
        ok("log on", "log", QStringLiteral("1"), QStringLiteral("1"), false),
        no("log word", "log", QStringLiteral("sì"), QStringLiteral("log vuole 0 o 1, non \"sì\""),
           false),
    };
}

// Enough rows to show that another part takes the catalog's judgement: per
// column the first value accepted, refused and empty, and every accepted text
// the catalog rewrites (a part using the text as typed fails there).
inline QList<SettingValue> settingValueSamples() {
    QList<SettingValue> samples;
    QSet<QString> seen;
    for (const SettingValue& v : settingValues()) {
        const QChar kind = v.text.isEmpty() ? u'e' : v.refusal.isEmpty() ? u'a' : u'r';
        const bool rewritten = kind == u'a' && v.normal != v.text;
        if (rewritten || !seen.contains(v.column + kind))
            samples << v;
        seen.insert(v.column + kind);
    }
    return samples;
}

} // namespace kv::testing
