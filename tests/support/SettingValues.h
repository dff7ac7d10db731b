#pragma once
// Values of the settings row with what the catalog makes of them: the normal
// form of an accepted text, or the Italian message of a refused one. The
// catalog's own test reads the whole table; the settings panel and the server
// start read a sample of it, so all three are held to the same words.

#include <QDir>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

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

// The panel has boxes for these columns only.
inline bool hasPanelBox(const char* column) {
    return QStringList{"ip", "port", "rootdir", "timeout"}.contains(QLatin1String(column));
}

inline QList<SettingValue> settingValues() {
    const auto ok = [](const char* row, const char* column, const QString& text,
                       const QString& normal) {
        return SettingValue{row, column, text, normal, QString(), hasPanelBox(column)};
    };
    // `refusal` holds %1 where the text refused goes.
    const auto no = [](const char* row, const char* column, const QString& text,
                       const QString& refusal) {
        return SettingValue{row, column, text, QString(), refusal.arg(text), hasPanelBox(column)};
    };
    const QString ip = "Indirizzo IP non valido: \"%1\" (un indirizzo o Default)";
    const QString port = "Porta non valida: \"%1\" (1-65535)";
    const QString timeout = "Timeout non valido: \"%1\" (secondi, 0-32767; 0 = nessuno)";
    const QString links = "Risoluzione dei collegamenti non valida: \"%1\" (un numero intero)";
    return {
        ok("ip default word", "ip", " DEFAULT ", "Default"),
        ok("ip v4", "ip", "127.0.0.1", "127.0.0.1"),
        ok("ip v6", "ip", "::1", "::1"),
        ok("ip empty: every IPv4 address", "ip", QString(), QString()),
        no("ip word", "ip", "casa", ip),
        no("ip with port", "ip", "127.0.0.1:21", ip),
        ok("port", "port", " 02121 ", "2121"),
        ok("port highest", "port", "65535", "65535"),
        ok("port empty: 21", "port", QString(), "21"),
        no("port zero", "port", "0", port),
        no("port too high", "port", "65536", port),
        no("port negative", "port", "-21", port),
        no("port with a fraction", "port", "21.5", port),
        no("port word", "port", "porta", port),
        ok("root existing", "rootdir", QDir::tempPath(), QDir::tempPath()),
        no("root missing", "rootdir", missingFolder(), "La cartella \"%1\" non esiste"),
        ok("timeout", "timeout", "60", "60"),
        ok("timeout half to even, down", "timeout", "62.5", "62"),
        ok("timeout half to even, up", "timeout", "63.5", "64"),
        ok("timeout highest", "timeout", "32767", "32767"),
        ok("timeout empty: the engine's own", "timeout", QString(), QString()),
        no("timeout word", "timeout", "abc", timeout),
        no("timeout too long", "timeout", "32768", timeout),
        no("timeout rounds out of range", "timeout", "32767.5", timeout),
        no("timeout with a unit", "timeout", "60s", timeout),
        no("timeout exponent", "timeout", "1e3", timeout),
        ok("debug mode lowest", "debugmode", "-32768", "-32768"),
        no("debug mode too low", "debugmode", "-32769",
           "Modalità di debug non valida: \"%1\" (-32768-32767)"),
        ok("resolve links 32-bit", "resolvelinks", "2147483647", "2147483647"),
        ok("resolve links, a half to even", "resolvelinks", "-0.5", "0"),
        no("resolve links too big", "resolvelinks", "2147483648", links),
        no("resolve links not finite", "resolvelinks", "inf", links),
        ok("data linger", "datalingertime", "5", "5"),
        no("data linger negative", "datalingertime", "-1",
           "Attesa sulle connessioni dati non valida: \"%1\" (secondi, 0-32767)"),
        ok("log on", "log", "1", "1"),
        no("log word", "log", "sì", "log vuole 0 o 1, non \"%1\""),
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
