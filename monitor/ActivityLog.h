#pragma once
// The activity log: every line goes to the screen (the log box, or standard
// output without a window) and, while logging to file is on, is appended to
// the log file, which is opened and closed for each line and never rewritten.
// In the program the lines come from the events::ServerEvents bus, where the
// screens take them too: the log keeps the file and tells its troubles.

#include "events/ServerEvents.h"
#include "monitor/LogRotation.h"

#include <QDateTime>
#include <QString>
#include <QTime>
#include <functional>

namespace kv::monitor {

// Where log lines are shown. The line comes without its end; the log box
// appends it followed by CR LF.
class LogScreen {
public:
    virtual ~LogScreen() = default;
    virtual void ShowLogLine(const QString& line) = 0;
};

// "[hh:nn:ss address] text", with the part inside the brackets trimmed of
// spaces, so a connection without an address gives "[hh:nn:ss] text". A line
// end after `text` is dropped and line breaks inside it become spaces: one
// engine line stays one log line. Other control and format characters in the
// address and the text are shown escaped (session::escapedForLog), so a client
// cannot forge lines or reorder what the operator reads.
QString EngineLogLine(const QTime& time, const QString& address, const QString& text);
// "[dd-mm-yyyy hh:nn:ss] SERVER START ON IP <address>"; the caller writes an
// empty line before it.
QString StartLogLine(const QDateTime& when, const QString& localAddress);
// "[dd-mm-yyyy hh:nn:ss] SERVER STOP"
QString StopLogLine(const QDateTime& when);
// "[dd-mm-yyyy hh:nn:ss] SERVER START FAILED: <reason>", one line
QString StartFailedLogLine(const QDateTime& when, const QString& reason);
// "[dd-mm-yyyy hh:nn:ss] SERVER RELOAD ON IP <address> PORT <port>"
QString ReloadLogLine(const QDateTime& when, const QString& localAddress, quint16 port);
// "[dd-mm-yyyy hh:nn:ss] SERVER RELOAD FAILED: <reason>", one line
QString ReloadFailedLogLine(const QDateTime& when, const QString& reason);

// Writes one line to standard error: where the log says that its file
// cannot be written, beside the screen.
void WarnOnStandardError(const QString& text);

class ActivityLog {
public:
    using Switch = std::function<bool()>;
    using Warn = std::function<void(const QString&)>;

    enum class FileOutcome { NotLogging, Written, Failed };

    // `logToFile` is asked for every line (the "Registra log" box, or the
    // settings row's `log` field). `warn` is told, besides the screen, when
    // writing to the file starts failing and when it works again.
    ActivityLog(LogScreen& screen, Switch logToFile, QString filePath,
                Warn warn = &WarnOnStandardError);

    // Shows the line, then appends it with CR LF to the file in the system's
    // encoding while logging to file is on. A file that cannot be written
    // never keeps the line from the screen, and never keeps part of a line:
    // the file always ends with a whole line. The first failure is reported
    // once; the first line written after it brings a note of the lines lost.
    FileOutcome WriteLog(const QString& text);
    // The same for a line the screen already has: only the file, and the
    // file's troubles to the screen.
    FileOutcome append(const QString& text);
    // A line from the bus: appended when it is for the file.
    void record(const events::LogLine& line);

    const QString& filePath() const { return filePath_; }
    // Applies from the next line on.
    void setRotation(const LogRotation& rotation) { rotation_ = rotation; }

private:
    // To the screen and to `warn`.
    void tell(const QString& text);

    LogScreen& screen_;
    Switch logToFile_;
    QString filePath_;
    LogRotation rotation_;
    Warn warn_;
    bool rotationFailureShown_ = false; // said once, not on every line
    bool fileFailing_ = false;          // the last line did not reach the file
    qint64 linesLost_ = 0;              // since the file last took a line
};

// The local time, worked out once a second: each conversion has the C
// library look at /etc/localtime again, and lines come by the thousand.
using Clock = std::function<QDateTime()>;
Clock localTimeBySecond();

// Stamps a session's text for the log with the time from `clock` and the
// client's address (EngineLogLine).
std::function<QString(const QString& address, const QString& text)>
sessionLineStamp(Clock clock = localTimeBySecond());

// A line the server itself says (start, stop, reload, an action's outcome):
// no session, already stamped.
events::LogLine serverLogLine(const QString& line);

} // namespace kv::monitor
