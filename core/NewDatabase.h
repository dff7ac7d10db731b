#pragma once
// What a database the program makes starts with. Its default root is a
// folder made for sharing, never the whole disk: the system service's
// /srv/kestrova (which the package makes), or for a user the desktop's public
// folder, else "Condivisi" in the home, made with the database. The window,
// headless mode and the command line make the same database.

#include "access/AccountDatabase.h"

#include <QString>

namespace kv {

// True when `folder` is the system service's data folder.
bool isServiceDataFolder(const QString& folder);

// The values of a database made in `dataFolder`; `home` and `publicShare`
// as settings::safeDefaultRoot takes them.
access::NewDatabaseValues newDatabaseValues(const QString& dataFolder, const QString& home,
                                            const QString& publicShare);
// The same, from this process's home and desktop folders.
access::NewDatabaseValues newDatabaseValues(const QString& dataFolder);

// Opens `db` (see AccountDatabase::open); when that made the file, also
// makes its default root, unless it is the service's, which only the package
// makes (a missing root is named by the start, as any root).
bool openAccountDatabase(access::AccountDatabase& db, const QString& dataFolder);

} // namespace kv
