#pragma once
// Handing a document or web address to the desktop, which opens it with the
// associated application; when that fails, one retry with the short form of
// folder + "\" + document, if the "previewretry" setting allows it.

#include "settings/SettingsStore.h"

#include <QString>
#include <functional>

namespace kv::shell {

// Opens a document or address; true when the desktop accepted it.
using DesktopOpener = std::function<bool(const QString& document, const QString& workingFolder)>;

// The short form of an existing path. This platform has no short names, so
// an existing path is returned unchanged; a path that does not exist gives "".
QString ShortPath(const QString& path);

// True when the document was NOT opened; false when it was, or when the
// document is empty (then nothing is asked of the desktop).
bool ShellOpen(const QString& document, const QString& folder, SettingsStore& settings,
               const DesktopOpener& open);

} // namespace kv::shell
