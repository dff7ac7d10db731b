#pragma once
// The folders of one folder of the server's disk, for the root and virtual
// folder choosers of a remote window ("browse" of the administration channel).

#include <QJsonObject>
#include <QString>

namespace kv {

// The most folders one answer lists; the rest are cut ("truncated": true).
inline constexpr int kMaxBrowsedFolders = 5000;

// {"ok": true, "path": the canonical absolute folder, "parent": its parent
// ("" for /), "folders": names sorted ignoring case first}; or "ok" false
// with the Italian reason (not absolute, missing, unreadable).
QJsonObject browseFolder(const QString& path);

} // namespace kv
