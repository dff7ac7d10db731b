#pragma once
// The one place that decides whether a logged-in session may perform a file
// operation. Each protocol command or request names the operation it
// performs; the decision reads the session's LoginGrant only. Rights are per
// account, not per path: the path is passed for the log and for rules that
// may one day depend on it.

#include "files/LoginGrant.h"

#include <QString>
#include <optional>

namespace kv::files {

enum class FileOperation {
    ChangeDir, // enter a folder
    List,      // list a folder or show one entry's facts
    Stat,      // size or time of one entry
    Download,  // read a file
    Upload,    // create or replace a file, append to one
    SetTime,   // change a file's modification time
    Rename,
    Delete, // a file
    MakeDir,
    RemoveDir,
    SetMode,   // change a file's or folder's permission bits
    FreeSpace, // how much room a folder's file system has left
    Checksum,  // read a file to compute its hash
};

// The right an operation needs; nullopt for one every logged-in session may
// perform.
std::optional<Right> requiredRight(FileOperation operation);

// The decision: false without a grant (no login), and when the grant lacks
// the operation's right.
bool isAllowed(const LoginGrant* grant, FileOperation operation);

} // namespace kv::files
