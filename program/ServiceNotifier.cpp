#include "program/ServiceNotifier.h"

#include <systemd/sd-daemon.h>
#include <time.h>

namespace kv {

namespace {
quint64 now(clockid_t clock) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return quint64(t.tv_sec) * 1000000u + quint64(t.tv_nsec) / 1000u;
}
} // namespace

// sd_notify() returns at once without NOTIFY_SOCKET in the environment, and a
// service manager that went away must not stop the server: its result is
// deliberately ignored.
void notifyReady(const QString& status) {
    const QByteArray state = "READY=1\nSTATUS=" + status.toUtf8();
    sd_notify(0, state.constData());
}

void notifyReloading() {
    // systemd wants the monotonic clock with RELOADING=1 (Type=notify-reload).
    const QByteArray state =
        "RELOADING=1\nMONOTONIC_USEC=" + QByteArray::number(qulonglong(now(CLOCK_MONOTONIC)));
    sd_notify(0, state.constData());
}

void notifyStopping() {
    sd_notify(0, "STOPPING=1");
}

} // namespace kv
