#pragma once
// The folders of one folder of the server's disk, for the root and virtual
// folder choosers of a remote window ("browse" of the administration channel),
// and its files too for the file choosers (certificates and keys the server reads).

#include <QJsonObject>
#include <QString>

namespace kv {

// The most folders one answer lists, and the most files; the rest are cut
// ("truncated": true).
inline constexpr int kMaxBrowsedFolders = 5000;

// What a "browse" request asks for: `path` (empty: the default root) and
// whether files are listed too ("files", false when missing). `error`: the
// Italian reason when a field is not of its type.
struct BrowseArguments {
    QString path;
    bool files = false;
    QString error;
};
BrowseArguments browseArguments(const QJsonObject& body);

// {"ok": true, "path": the canonical absolute folder, "parent": its parent
// ("" for /), "folders": names sorted ignoring case first}, with `files` also
// "files": the other entries that are files (links to files too), sorted the
// same way; or "ok" false with the Italian reason (not absolute, missing,
// unreadable).
QJsonObject browseFolder(const QString& path, bool files = false);

} // namespace kv
