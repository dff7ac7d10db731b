#pragma once
// What happens on the server, told to whoever listens: sessions opening,
// logging in and closing, transfers starting, moving and ending, files and
// folders changed, refused logins, banned addresses and the log's lines. Every protocol raises
// the same events; the online list, the log, the rate graph and anything
// added later subscribe with ordinary signal connections. Signals are emitted
// on the thread of the event loop that serves the sessions; a subscriber must
// not block it.

#include <QObject>
#include <QString>
#include <optional>

namespace kv::events {

enum class Protocol { Ftp, Ftps, Sftp };

// "ftp", "ftps", "sftp".
QString protocolName(Protocol protocol);

// A new session number: 1, 2, 3, ... for the life of the process, shared by
// every protocol, so that a number names one session only.
quint64 nextSessionId();

// Which session an event is about, as it stood when the event was raised.
struct SessionInfo {
    quint64 id = 0;  // unique for the life of the process, never reused
    QString address; // the client's address
    QString login;   // empty before the login
    Protocol protocol = Protocol::Ftp;
};

enum class TransferKind { Download, Upload, Listing };
enum class TransferOutcome { Running, Complete, Aborted, Failed };

struct TransferEvent {
    SessionInfo session;
    TransferKind kind = TransferKind::Download;
    QString clientPath; // as the client sees it
    QString diskPath;   // absolute; empty for a listing
    qint64 bytes = 0;   // moved so far (at the end: in all)
    qint64 size = -1;   // what the transfer will move when known, else -1
    TransferOutcome outcome = TransferOutcome::Running;
    QString reason; // why it did not complete, for the log
    // A complete upload's file as stored, whatever part of it this transfer
    // wrote (an appended or resumed upload); -1 otherwise.
    qint64 fileSize = -1;
    // The speed limit this transfer moves under now (the tightest on its
    // way), in bytes per second; 0: none.
    qint64 limitBytesPerSecond = 0;
};

enum class FileChange { Deleted, Renamed, FolderMade, FolderRemoved };

struct FileEvent {
    SessionInfo session;
    FileChange change = FileChange::Deleted;
    QString clientPath;
    QString diskPath;
    QString newClientPath; // Renamed only
    QString newDiskPath;   // Renamed only
};

struct LoginFailure {
    SessionInfo session;
    QString login;  // the name given
    QString reason; // in Italian, for the log; never the password
};

struct AddressBan {
    QString address;
    int attempts = 0;      // the failed logins that led to it; 0: banned by hand
    qint64 durationMs = 0; // how long the ban lasts
};

// One line of the activity log. A session's line carries the session and
// the client's address; the server's own lines (start, stop, reload, the
// log file's troubles) carry neither and come with their own time stamp.
// An account crossed a line: its quota's warning share, or its expiry date.
struct AccountNotice {
    QString login;  // the account's name ("anonymous" for the anonymous account)
    QString detail; // in Italian, for the log and the mail: what happened
};

struct LogLine {
    QString line;    // as ftp.log and the screen show it, without its end
    QString text;    // what was said, without the time and the address
    QString address; // the client's address as the log shows it (empty before a login request)
    std::optional<SessionInfo> session;
    // False for what the log says about its own file (it cannot be written,
    // writing resumed): shown, never written to the file.
    bool forFile = true;
};

class ServerEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Whether anybody listens to transferProgress: nobody, no timers.
    bool progressWanted() const;

Q_SIGNALS:
    void sessionOpened(const kv::events::SessionInfo& session);
    void loggedIn(const kv::events::SessionInfo& session);
    void sessionClosed(const kv::events::SessionInfo& session);
    void transferStarted(const kv::events::TransferEvent& transfer);
    // At most about once a second per transfer while bytes move.
    void transferProgress(const kv::events::TransferEvent& transfer);
    void transferFinished(const kv::events::TransferEvent& transfer);
    void fileChanged(const kv::events::FileEvent& change);
    void loginFailed(const kv::events::LoginFailure& failure);
    void addressBanned(const kv::events::AddressBan& ban);
    // The operator lifted the ban of `address` before its end.
    void banLifted(const QString& address);
    // An account's used space crossed quota_warn_percent of its quota (once
    // until it falls back under it).
    void quotaWarning(const kv::events::AccountNotice& notice);
    // An account reached its expiry date (once).
    void accountExpired(const kv::events::AccountNotice& notice);
    // The server started or reread its settings and options (what runs
    // beside it, such as remote administration, follows them).
    void settingsApplied();
    // A remote administrator logged in from `address`.
    void adminLoggedIn(const QString& address);
    // The FTPS certificate obtained from the ACME CA was renewed; `detail`
    // names it (names, expiry).
    void certificateRenewed(const QString& detail);
    // An ACME attempt failed, or the certificate expires within 14 days
    // with no renewal; `detail` is the Italian explanation.
    void certificateFailed(const QString& detail);
    // The activity log's lines, in order: ftp.log, the screen and the
    // administration channel's followers each take them from here.
    void logLine(const kv::events::LogLine& line);
};

} // namespace kv::events
