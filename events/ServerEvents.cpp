#include "events/ServerEvents.h"

namespace kv::events {

QString protocolName(Protocol protocol) {
    switch (protocol) {
    case Protocol::Ftp:
        break;
    case Protocol::Ftps:
        return QStringLiteral("ftps");
    case Protocol::Sftp:
        return QStringLiteral("sftp");
    }
    return QStringLiteral("ftp");
}

} // namespace kv::events
