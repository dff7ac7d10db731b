#include "program/ServiceNotifier.h"

#include <systemd/sd-daemon.h>

namespace kv {

// sd_notify() returns at once without NOTIFY_SOCKET in the environment, and a
// service manager that went away must not stop the server: its result is
// deliberately ignored.
void notifyReady(const QString& status) {
    const QByteArray state = "READY=1\nSTATUS=" + status.toUtf8();
    sd_notify(0, state.constData());
}

void notifyStopping() {
    sd_notify(0, "STOPPING=1");
}

} // namespace kv
