#pragma once
// The default root a new database starts with, and what counts as sharing
// the whole disk. A new database never shares "/": it gets a folder made for
// sharing (the desktop's public folder, or "Condivisi" in the user's home; for
// the system service, /srv/kestrova, which its package creates). A root of
// "/" is served only when the operator chose it explicitly.

#include <QString>

namespace kv::settings {

// The system service's shared folder, made by the package (group kestrova).
inline const QString kServiceSharedFolder = QStringLiteral("/srv/kestrova");
// The folder made in the user's home when the desktop names no public folder.
inline const QString kSharedFolderName = QStringLiteral("Condivisi");
// The command line's flag for an explicit choice of the whole disk as a root.
inline const QString kWholeDiskFlag = QStringLiteral("--whole-disk");

// True when `root` as stored serves the whole disk: "/" (also written
// "//", "/.", "\\"), or empty where an empty root means the file system's
// root (an old database's default root).
bool sharesWholeDisk(const QString& root);

// The folder a new database offers as default root. `publicShare` is the
// desktop's public folder (XDG_PUBLICSHARE_DIR; empty when none): used when
// it exists and is neither the home folder nor the whole disk. Otherwise
// `home`/Condivisi. For the system service, kServiceSharedFolder.
QString safeDefaultRoot(bool forService, const QString& home, const QString& publicShare);

// The same, from this process's environment (QStandardPaths).
QString safeDefaultRoot(bool forService);

// Makes `folder` when it is missing (its owner may read, write and enter it;
// others may read and enter it, as a shared folder). The Italian reason it
// could not, empty when the folder is there.
QString makeSharedFolder(const QString& folder);

// The warning the start log and the window give while the whole disk is
// shared through `who` ("la cartella radice predefinita", "l'account bob"),
// naming the command that changes it.
QString wholeDiskWarning(const QString& who, const QString& command);

} // namespace kv::settings
