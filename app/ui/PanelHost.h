#pragma once
// What a panel of the main window may ask of the window around it.

#include "app/core/Messages.h"

#include <QString>
#include <optional>

class QWidget;

namespace kv {
class ProgramCore;
}

namespace kv::ui {

class PanelHost {
public:
    virtual ~PanelHost() = default;
    virtual ProgramCore& core() = 0;
    virtual Messages& messages() = 0;
    // Modal folder picker: the chosen folder, or "" when cancelled.
    virtual QString BrowseForFolder(QWidget* owner, const QString& prompt,
                                    const QString& defaultRoot) = 0;
    // Lays the shown panel out again (after content changed size).
    virtual void relayout() = 0;
    // The address column of the online list's selected row; empty optional
    // when no row is selected.
    virtual std::optional<QString> selectedOnlineAddress() const = 0;
    // The text of the default-root box (shown for accounts without a root).
    virtual QString defaultRootText() const = 0;
};

} // namespace kv::ui
