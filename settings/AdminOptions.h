#pragma once
// The checks of the remote administration options: the address the
// administration listener binds (an IP address; empty: the settings row's)
// and the list of addresses that may reach it (entries as in the IP lists,
// separated by commas), and the reading of a checked list.

#include "settings/OptionCatalog.h"

#include <QHostAddress>

namespace kv::settings {

// Loopback and the private ranges: the administration stays in the house
// unless the operator says otherwise.
inline const QString kDefaultAdminAllowed =
    QStringLiteral("127.0.0.0/8, ::1, 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, fc00::/7, "
                   "fe80::/10");

// `trimmed` as an IPv4 or IPv6 address, or the Italian reason.
OptionCheck checkAdminAddress(const OptionDef& option, const QString& trimmed);
// `trimmed` as entries joined by ", ", or the reason naming the first bad one.
OptionCheck checkAdminAllowed(const OptionDef& option, const QString& trimmed);

// Whether `client` matches an entry of a checked admin_allowed value.
bool adminAddressAllowed(const QString& allowedList, const QHostAddress& client);

} // namespace kv::settings
