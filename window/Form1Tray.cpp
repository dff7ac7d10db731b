// The main window and the notification area: minimising hides the window
// behind the tray icon (when the platform has one), the icon's menu starts,
// stops and restores, and the icon tells the server state.
#include "window/Form1.h"

#include "core/ProgramCore.h"
#include "window/TrayIcon.h"

#include <QAction>
#include <QEvent>
#include <QTimer>

namespace kv::ui {

void Form1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Queued: showMinimized() shows the window again right after the state change.
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && !unloaded_)
                minimiseToTray();
        });
    }
}

void Form1::mnuStart_Click() {
    startOrAttach(true);
}

void Form1::mnuStop_Click() {
    if (isAttached())
        return; // not the window's server: its Stop is disabled
    if (confirmDisruption(Disruption::StopServer))
        toolbarClick(QStringLiteral("kStop"));
}

void Form1::mnuRipristina_Click() {
    restoreFromTray();
}

bool Form1::inTray() const {
    return hiddenInTray_;
}

void Form1::minimiseToTray() {
    if (hiddenInTray_)
        return;
    refreshTrayMenu();
    if (!tray_->add(core_.server().ServerState()))
        return; // no notification area: the window stays reachable from the task bar
    hiddenInTray_ = true;
    hide();
}

void Form1::restoreFromTray() {
    hiddenInTray_ = false;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    tray_->remove();
    Form_Resize();
}

void Form1::refreshTrayMenu() {
    tray_->mnuStart()->setEnabled(kStart_->isEnabled());
    tray_->mnuStop()->setEnabled(kStop_->isEnabled());
}

void Form1::refreshTray() {
    refreshTrayMenu();
    tray_->modify(core_.server().ServerState());
}

} // namespace kv::ui
