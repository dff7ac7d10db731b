#pragma once
// The columns of the `users` and `anonymous` rows that the account service,
// the login decision and the panels read and write, and which right each
// switch column holds.

#include "files/Rights.h"

#include <QString>
#include <array>
#include <utility>

namespace kv::access::column {

inline const QString kId = QStringLiteral("ID");
inline const QString kLogin = QStringLiteral("login");
inline const QString kPassword = QStringLiteral("password");
inline const QString kEnabled = QStringLiteral("enabled");
inline const QString kRootDir = QStringLiteral("rootdir");

// The right each switch column grants, in "rwdbm" order.
inline const std::array<std::pair<QString, files::Right>, 5> kRights = {{
    {QStringLiteral("read"), files::Right::Read},
    {QStringLiteral("write"), files::Right::Write},
    {QStringLiteral("delete"), files::Right::Delete},
    {QStringLiteral("browse"), files::Right::Browse},
    {QStringLiteral("manage"), files::Right::Manage},
}};

// A right column as it is named in a statement ("delete" is a keyword).
inline QString quoted(const QString& name) {
    return QLatin1Char('"') + name + QLatin1Char('"');
}

} // namespace kv::access::column
