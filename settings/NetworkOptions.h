#pragma once
// The checks of the passive-mode options: a range of data ports the router
// forwards ("LO-HI" within 1024-65535) and the public address named in PASV
// replies (an IPv4 address or a host name), and the reading of a checked range.

#include "settings/OptionCatalog.h"

#include <optional>
#include <utility>

namespace kv::settings {

inline constexpr int kLowestPassivePort = 1024;

// `trimmed` as "LO-HI" in normal form, or the Italian reason.
OptionCheck checkPortRange(const OptionDef& option, const QString& trimmed);
// `trimmed` as a dotted IPv4 address or a lower-case host name, or the reason.
OptionCheck checkPublicAddress(const OptionDef& option, const QString& trimmed);

// The first and last port of a range in normal form; none for "" or a bad text.
std::optional<std::pair<quint16, quint16>> portRange(const QString& normal);
// True when a checked passive_address is an IPv4 address, not a host name.
bool isIPv4Literal(const QString& normal);

} // namespace kv::settings
