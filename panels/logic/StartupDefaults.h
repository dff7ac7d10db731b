#pragma once
// Values the main window fills in at its first activation.

#include <QString>
#include <QStringList>

namespace kv {

struct PortChoice {
    QStringList entries; // the port box's list
    QString text;        // the port box's text
    int selected = -1;   // index of the selected entry, -1 when none was chosen
};

// "21" is always in the list; an empty port becomes "21"; any other port is
// added as a new entry (unless the list holds it already) and selected.
PortChoice choosePort(const QStringList& entries, const QString& port);

// The window starts minimised when the window-mode text begins with a nonzero number.
bool startsMinimized(const QString& windowMode);

} // namespace kv
