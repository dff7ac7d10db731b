#include "settings/FolderPresence.h"

#include <QFileInfo>

namespace kv::settings {

namespace {
// Process-wide by design: the whole program either edits a local file or a
// remote server's copy, decided before its first check.
bool remoteFolders = false;
} // namespace

void setFoldersAreRemote(bool remote) {
    remoteFolders = remote;
}

bool foldersAreRemote() {
    return remoteFolders;
}

bool folderPresent(const QString& folder) {
    return remoteFolders || QFileInfo(folder).isDir();
}

} // namespace kv::settings
