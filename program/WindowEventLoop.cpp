#include "program/WindowEventLoop.h"

#include <QCoreApplication>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformintegration.h>

namespace kv {

WindowEventLoop::WindowEventLoop() {
    if (qEnvironmentVariableIntValue("KV_QT_DISPATCHER") == 1)
        return;
    auto dispatcher = std::make_unique<net::EpollDispatcher>();
    if (!dispatcher->isValid())
        return;
    QCoreApplication::setEventDispatcher(dispatcher.get());
    epoll_ = dispatcher.release();
    // GTK's own file dialogs run on glib sources this loop does not watch;
    // Qt's dialogs need nothing but the loop.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void WindowEventLoop::attachPlatform() {
    QPlatformIntegration* integration = QGuiApplicationPrivate::platformIntegration();
    if (!epoll_ || !integration)
        return;
    platform_.reset(integration->createEventDispatcher());
    epoll_->setCompanion(platform_.get());
}

void WindowEventLoop::detachPlatform() {
    if (epoll_)
        epoll_->setCompanion(nullptr);
    platform_.reset();
}

} // namespace kv
