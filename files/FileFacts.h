#pragma once
// Facts of disk objects as the path checkpoint lists and serves them: one
// entry per file or folder, links reported or followed, and only regular
// files and folders counted as servable.

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QFileInfo;

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

// Regular files and folders only; pipes, sockets and devices are never
// served (opening a pipe would block the connection).
bool isServable(const QFileInfo& info);

// Facts of an existing file or folder, links followed, named `name`;
// nullopt when missing or not servable.
std::optional<FsEntry> factsOf(const QString& name, const QString& path);

// Appends the servable entries of the folder `path` ("." and ".." left
// out). A link is followed when `follow` agrees for its disk path (then it
// counts only when its target is servable), otherwise it is reported as a
// link. False when the folder cannot be read.
// With `namesOnly` only name and isDir are filled in, and entries whose
// type the folder itself tells (files, folders) cost no stat at all (NLST).
bool readFolder(const QString& path, QList<FsEntry>& out,
                const std::function<bool(const QString&)>& follow, bool namesOnly = false);

} // namespace kv::files
