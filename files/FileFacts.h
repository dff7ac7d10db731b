#pragma once
// Facts of disk objects as the path checkpoint lists and serves them: one
// entry per file or folder, links reported or followed, and only regular
// files and folders counted as servable.

#include "files/BeneathOpen.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct stat;

namespace kv::files {

struct FsEntry {
    QString name;
    bool isDir = false;
    bool isLink = false; // shown as a link in listings (only when not followed)
    qint64 size = 0;
    QDateTime modified; // UTC
    bool readable = true;
    bool writable = true;
};

// Facts of the open file or folder `fd`, named `name`; nullopt when it
// cannot be asked or is neither a regular file nor a folder (pipes, sockets
// and devices are never served: opening a pipe would block the connection).
std::optional<FsEntry> factsOf(const QString& name, int fd);

// Appends the servable entries of the open folder `folder` ("." and ".."
// left out), which it closes. A link is followed when `follow` gives the
// facts of its target for its name (then it counts only when the target is
// servable), otherwise it is reported as a link. False when the folder
// cannot be read.
// With `namesOnly` only name and isDir are filled in, and entries whose
// type the folder itself tells (files, folders) cost no stat at all (NLST).
bool readFolder(UniqueFd folder, QList<FsEntry>& out,
                const std::function<bool(const char* name, struct stat& target)>& follow,
                bool namesOnly = false);

} // namespace kv::files
