#pragma once
// The server's own speed limits (the whole server's, each address's, the
// local-network exemption) as the options rows give them, checked through
// the catalog: a missing or refused row means no limit.

#include "session/LimitsBook.h"

#include <QMap>
#include <QString>

namespace kv {

session::ServerLimits serverLimitsFromOptions(const QMap<QString, QString>& rows);

} // namespace kv
