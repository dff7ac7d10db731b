#include "panels/logic/StartupDefaults.h"

#include "core/NumberConversion.h"

namespace kv {

PortChoice choosePort(const QStringList& entries, const QString& port) {
    PortChoice choice{entries, port, -1};
    if (!choice.entries.contains(QStringLiteral("21")))
        choice.entries.prepend(QStringLiteral("21"));
    if (port.isEmpty()) {
        choice.text = QStringLiteral("21");
        return choice;
    }
    if (port == QLatin1String("21"))
        return choice;
    // Adding the same text again would show a duplicate entry after a second start-up.
    choice.selected = choice.entries.indexOf(port);
    if (choice.selected < 0) {
        choice.entries.append(port);
        choice.selected = choice.entries.size() - 1;
    }
    return choice;
}

bool startsMinimized(const QString& windowMode) {
    return leadingNumber(windowMode) != 0;
}

} // namespace kv
