#include "program/CliArguments.h"

namespace kv::cli {

CliArguments readArguments(const QStringList& args, const QSet<QString>& valued,
                           const QSet<QString>& flags) {
    CliArguments out;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || !arg.startsWith(QLatin1String("--")) || arg.size() == 2) {
            if (arg == QLatin1String("--") && !optionsEnded)
                optionsEnded = true;
            else
                out.words << arg;
            continue;
        }
        QString name = arg.mid(2);
        QString inlineValue;
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        const bool hasInline = eq >= 0;
        if (hasInline) {
            inlineValue = name.mid(eq + 1);
            name.truncate(eq);
        }
        if (flags.contains(name) && !hasInline) {
            out.switches.insert(name);
        } else if (valued.contains(name)) {
            if (!hasInline && i + 1 >= args.size()) {
                out.error = QStringLiteral("L'opzione --%1 vuole un valore").arg(name);
                return out;
            }
            out.values.insert(name, hasInline ? inlineValue : args[++i]);
        } else {
            out.error = QStringLiteral("Opzione sconosciuta: %1").arg(arg);
            return out;
        }
    }
    return out;
}

} // namespace kv::cli
