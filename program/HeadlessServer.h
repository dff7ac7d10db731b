#pragma once
// Running without a window: the server starts from the settings row at once,
// log lines go to standard output (and ftp.log while logging is on), a
// termination signal stops the server cleanly and a reload signal rereads
// the settings and options without dropping the connections. Its
// administration channel serves the command line while it runs.

#include "core/Messages.h"
#include "core/ServerController.h"

#include <QObject>
#include <QTextStream>
#include <memory>

namespace kv {

class AdminChannel;
class ProgramCore;

class HeadlessServer : public QObject, public ServerView, public Messages {
    Q_OBJECT
public:
    HeadlessServer(ProgramCore& core, QTextStream& out, QTextStream& err,
                   QObject* parent = nullptr);
    ~HeadlessServer() override;

    // Claims the data folder and opens its administration channel, then
    // starts the server whatever the settings' automatic-start field says
    // and tells systemd it is ready. False when another server serves the
    // folder or this one could not start (the reason is on standard error).
    bool start();

    // Reads the settings row and the options again and listens with them;
    // a failure leaves the server as it was (the log says why). systemd is
    // told RELOADING=1 before and READY=1 after, whether it came from the
    // reload signal or the administration channel.
    bool reload();

public Q_SLOTS:
    // Tells systemd, stops the server (logging the stop) and ends the event
    // loop with 0.
    void stop();

private:
    QString listening() const;
    void ShowLogLine(const QString& line);
    void showRunning(const QString&) override {}
    void afterStart() override {}
    void showStartFailed(const QString& message) override;
    void showStopped() override {}
    void show(const QString& text, MessageIcon icon) override;

    ProgramCore& core_;
    QTextStream& out_;
    QTextStream& err_;
    std::unique_ptr<AdminChannel> channel_;
    bool flushQueued_ = false;
};

} // namespace kv
