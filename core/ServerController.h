#pragma once
// Starting and stopping the FTP service: the settings hand-over to the engine,
// the failure check, the server state, and the start and stop log lines. What
// the window shows for each state is left to a ServerView.

#include "core/ServerBoxes.h"
#include "engine/FtpEngine.h"

#include <QDateTime>
#include <QString>
#include <functional>

namespace kv {

inline const QString kStartFailedMessage =
    QStringLiteral("Impossibile avviare il server: controllare indirizzo IP e porta");

// The root used when the root box is empty: the file system's root.
QString DefaultServerRoot();

class ServerView {
public:
    virtual ~ServerView() = default;
    // Toolbar, status bar ("Online: " + address), disabled panels, log viewer closed.
    virtual void showRunning(const QString& localAddress) = 0;
    // Called once the state is running: the start notice, when it applies.
    virtual void afterStart() = 0;
    virtual void showStartFailed(const QString& message) = 0;
    // Toolbar, status bar, enabled panels, online list emptied, account groups.
    virtual void showStopped() = 0;
};

class ServerController {
public:
    using WriteLogFn = std::function<void(const QString&)>;
    using DefaultAddressFn = std::function<QString()>;
    using ClockFn = std::function<QDateTime()>;

    ServerController(engine::FtpEngine& engine, ServerBoxes& boxes, DefaultAddressFn defaultLocalIP,
                     WriteLogFn writeLog, ClockFn clock = &QDateTime::currentDateTime);

    void setView(ServerView* view) { view_ = view; }

    // True when the engine listens afterwards.
    bool ServerStart();
    void ServerStop();
    qint16 ServerState() const { return state_; }

private:
    void handOverSettings(const QString& address);

    engine::FtpEngine& engine_;
    ServerBoxes& boxes_;
    DefaultAddressFn defaultLocalIP_;
    WriteLogFn writeLog_;
    ClockFn clock_;
    ServerView* view_ = nullptr;
    qint16 state_ = 0;
};

} // namespace kv
