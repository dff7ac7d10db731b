#pragma once

#include <QString>

namespace kv::files {

// One virtual folder: `name` appears inside the real folder `source` (empty:
// the root) and serves the contents of the real folder `destination`.
struct VirtualDir {
    QString name;
    QString source;
    QString destination;
    friend bool operator==(const VirtualDir&, const VirtualDir&) = default;
};

} // namespace kv::files
