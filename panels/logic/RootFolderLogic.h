#pragma once
// Root folder boxes, free of widgets: the judgement of a root typed, picked
// or given (the default root of the Impostazioni panel, an account's or the
// anonymous account's root), with the question before the whole disk is
// chosen; the default root's warning while it shares the whole disk; and
// "Usa una cartella condivisa", which puts a folder made for sharing in its
// place (the service's own folder for the service's data folder).

#include "access/EntryChecks.h"
#include "core/Messages.h"
#include "panels/logic/FieldEdit.h"

#include <QString>
#include <functional>
#include <optional>

namespace kv::admin {

class SettingsRowEdit;

inline const QString kUseSharedFolderText = QStringLiteral("Usa una cartella condivisa");

// Whether the panel warns about the default root `root` as the row holds it.
bool warnsWholeDisk(const QString& root);
// The warning, naming the way out.
QString wholeDiskRootWarning();

// Whether choosing `chosen` where `owner`'s root was `before` asks first: a
// root that shares the whole disk, chosen in place of one that did not.
bool asksWholeDisk(const access::RootOwner& owner, const QString& before, const QString& chosen);

// Where a root box keeps its root.
struct RootStore {
    std::function<access::RootOwner()> owner; // named in the question
    std::function<QString()> stored;          // the root kept now
    // Why a root is refused (access::rootProblem, the option catalog).
    std::function<std::optional<QString>(const QString&)> problem;
    // Writes an accepted root.
    std::function<EditVerdict(const QString&)> keep;
    // A root given (shown as stored, or put back after a refused text) is
    // judged too: the settings row's, which another program may have written;
    // an account's is kept as it is, its status line saying when the folder
    // is missing.
    bool judgesGiven = false;
};

// A root box's edit (FieldEdit's apply): the store's check, then, for the
// whole disk, the question when the box is left (while typing, the value
// held stays); no keeps the root held.
EditVerdict changeRoot(const RootStore& store, const QString& text, EditStep step,
                       Messages& messages);
// The default root, in the settings row.
RootStore defaultRootStore(SettingsRowEdit& row);

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
