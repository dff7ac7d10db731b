#include "events/ServerEvents.h"

#include <QMetaMethod>

#include <atomic>

namespace kv::events {

quint64 nextSessionId() {
    static std::atomic<quint64> last{0};
    return ++last;
}

bool ServerEvents::progressWanted() const {
    return isSignalConnected(QMetaMethod::fromSignal(&ServerEvents::transferProgress));
}

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
