#pragma once
// The default root of the Impostazioni panel, free of widgets: the warning
// while it shares the whole disk (empty or "/"), the question before the
// operator chooses that, and "Usa una cartella condivisa", which puts a folder
// made for sharing in its place (the service's own folder for the service's
// data folder).

#include "admin/logic/FieldEdit.h"
#include "core/Messages.h"

#include <QString>

namespace kv::admin {

class SettingsRowEdit;

inline const QString kUseSharedFolderText = QStringLiteral("Usa una cartella condivisa");

// Whether the panel warns about the default root `root` as the row holds it.
bool warnsWholeDisk(const QString& root);
// The warning, naming the way out.
QString wholeDiskRootWarning();

// Whether choosing `chosen` where the root was `before` asks first: a root
// that shares the whole disk, chosen in place of one that did not.
bool asksWholeDisk(const QString& before, const QString& chosen);
QString wholeDiskQuestion(const QString& chosen);

// The root box's edit: the catalog's check, then, for the whole disk, the
// question when the box is left (while typing the value held stays).
EditVerdict changeRoot(SettingsRowEdit& row, const QString& text, EditStep step,
                       const QString& before, Messages& messages);

// Whether `dataFolder` is the system service's.
bool isServiceDataFolder(const QString& dataFolder);
// The folder "Usa una cartella condivisa" offers for a window on `dataFolder`,
// `home` and `publicShare` as in settings::safeDefaultRoot().
QString sharedRootFor(const QString& dataFolder, const QString& home, const QString& publicShare);
// The same from this process's environment.
QString sharedRootFor(const QString& dataFolder);

// The folder to put in the root box, made when missing, or why it could not be.
struct SharedRootChoice {
    QString folder;
    QString error; // Italian; empty when the folder is there
};
SharedRootChoice prepareSharedRoot(const QString& folder);

} // namespace kv::admin
