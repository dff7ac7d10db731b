#pragma once
// The window program's event loop on epoll, as the headless program's: a
// wake-up then costs in proportion to what is ready, not to every idle
// session's socket. The platform plugin's own dispatcher still turns the
// window system's events into Qt's, asked by the epoll loop after each wake-up.

#include "net/EpollDispatcher.h"

#include <memory>

namespace kv {

class WindowEventLoop {
public:
    // Before the application object: installs the epoll dispatcher, unless
    // KV_QT_DISPATCHER=1 asks for Qt's own or the kernel refuses epoll.
    WindowEventLoop();
    // Once the application object exists: the platform's dispatcher joins.
    void attachPlatform();
    // Before the application object goes: the platform's dispatcher leaves.
    void detachPlatform();

private:
    net::EpollDispatcher* epoll_ = nullptr; // the application's once installed
    std::unique_ptr<QAbstractEventDispatcher> platform_;
};

} // namespace kv
