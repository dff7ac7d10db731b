#pragma once
// The mode of a file the program makes in its data folder (accounts.dat with
// the password hashes, ftp.log with addresses and logins): private to its
// owner, or also the group's where the folder is shared with a group
// (set-group-ID bit, as the service's /var/lib/kestrova), so that the group's
// members administer the server too. The umask has no say either way.

#include <QString>
#include <sys/types.h>

namespace kv::access {

// 0600, or 0660 when `folder` has the set-group-ID bit.
mode_t dataFileMode(const QString& folder);

} // namespace kv::access
