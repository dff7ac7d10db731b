#pragma once
// Text helpers for disk paths as the path checkpoint compares them: one clean
// form for operator-typed folders, containment of one folder in another, and
// the real path behind links. Client paths are not handled here.

#include <QString>

#include <optional>

namespace kv::files {

// An operator-typed disk path in one comparable form: '\\' counts as '/',
// no "." or ".." parts, no repeated or trailing separators.
QString cleanDiskPath(const QString& path);

// The same, but only for absolute paths; anything else gives an empty
// string, so a relative root never ends up serving the working folder.
QString absoluteDiskPath(const QString& path);

// The real path with every link resolved; empty when the object does not
// exist, a link dangles or links loop.
QString realPathOf(const QString& path);

// Whether `path` is `folder` or lies below it (both in clean form).
bool isInside(const QString& path, const QString& folder);

QString joinDisk(const QString& base, const QString& name);
QString joinVirtual(const QString& dir, const QString& name);

// One path segment: not empty, not "." or "..", no separator or NUL.
bool isPlainName(const QString& name);

// The part of a virtual folder's `source` below the clean root `rootDisk`
// ("" for the root itself), as a disk path; nullopt when the source is
// relative or lies outside the root, even through links.
std::optional<QString> sourceBelowRoot(const QString& source, const QString& rootDisk);

} // namespace kv::files
