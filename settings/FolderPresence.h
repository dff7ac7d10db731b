#pragma once
// Whether a folder the operator names (a root, a virtual folder's
// destination, the default root) is there. On the server's own PC that is
// the disk's to say. A program that edits a copy of a remote server's
// accounts.dat (a remote window or command line) names the server's folders,
// which this PC's disk cannot judge: it says so once, when it starts, before
// any check, and every folder counts as present; the server repeats each
// check with the same messages when the change arrives.

#include <QString>

namespace kv::settings {

// Set once by a remote client at its start; false (the disk judges) otherwise.
void setFoldersAreRemote(bool remote);
bool foldersAreRemote();

// An existing folder (a link to one counts), or any path when folders are remote.
bool folderPresent(const QString& folder);

} // namespace kv::settings
