#pragma once
// Tells systemd (a Type=notify unit) when the headless server is ready and
// when it is stopping. Does nothing when not started by systemd.

#include <QString>

namespace kv {

void notifyReady(const QString& status);
void notifyStopping();
// Around a reread of the settings: RELOADING=1 before, READY=1 after.
void notifyReloading();

} // namespace kv
