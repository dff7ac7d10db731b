#pragma once
// The FTP engine as the rest of the program sees it: properties set before a
// start, Listen/StopListening, the open connections, and the events through
// which the engine asks the program for every decision.
//
// Every event is delivered synchronously on the thread that owns the engine
// (the GUI thread) while the engine waits for the answer. Check events return
// a Verdict, so a handler cannot forget to answer.
//
// Which client command raises which event:
//   LoginRequest     PASS (after USER); Deny -> "530 Login incorrect",
//                    Allow -> "230 User %s logged in."
//   ChangeDirCheck   CWD, XCWD, CDUP, XCUP (path: the folder to enter)
//   MakeDirCheck     MKD, XMKD
//   RemoveDirCheck   RMD, XRMD
//   DeleteCheck      DELE
//   RenameCheck      RNTO (old and new client paths)
//   UploadCheck      STOR, APPE, STOU
//   DownloadCheck    RETR
//   OtherCheckA      SITE (argument: the whole SITE parameter)
//   OtherCheckB      MFMT (changing a file's modification time)
//   OtherNoticeA     a download finished (path, bytes sent)
//   OtherNoticeB     an upload finished (path, bytes received, complete or not)
//   LogLine          every command received (PASS masked), every reply,
//                    transfer outcomes; more data-connection detail when
//                    DebugMode > 0
//   ConnectionClosed once per connection, whoever closed it
// A denied check answers "550 Access denied" and changes nothing.
// Paths given to check events are client-visible paths ("/dir/file").
// A check is raised only after the path has been resolved inside what the
// connection may see (a missing path answers "550 %s: No such file or
// directory." without any event). OtherNoticeA follows complete downloads
// only; OtherNoticeB follows every upload, finished or not. An allowed SITE
// command answers 504 (no SITE commands are implemented).

#include "engine/PassiveSettings.h"
#include "engine/TlsSettings.h"
#include "files/VirtualDir.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace kv::engine {

class LoginBans;

enum class Verdict { Allow, Deny };

inline Verdict denyIf(bool deny) {
    return deny ? Verdict::Deny : Verdict::Allow;
}

using VirtualDir = files::VirtualDir;

class VirtualDirCollection {
public:
    void Add(const QString& name, const QString& source, const QString& destination) {
        items_.append({name, source, destination});
    }
    const QList<VirtualDir>& items() const { return items_; }
    void clear() { items_.clear(); }

private:
    QList<VirtualDir> items_;
};

// What a connection is moving: the file transfer running now (if any) and
// the bytes moved over the connection's life, the running transfer included
// (listings count as bytes sent, without a file of their own). Read by the program about once a
// second; the engine only hands out counters its transfers keep anyway.
struct TransferActivity {
    enum class Direction { None, Download, Upload };
    Direction direction = Direction::None; // None: no file transfer running
    QString path;                          // client-visible path of the running transfer
    qint64 bytes = 0;                      // bytes of the running transfer so far
    qint64 size = -1;                      // bytes it will move when known, else -1
    qint64 sentTotal = 0;                  // file and listing bytes sent to the client
    qint64 receivedTotal = 0;              // file bytes received from the client
};

// One client connection. The engine owns it; the program reads the client's
// values, writes RootDir, Tag and VirtualDirs, and may ask it to disconnect.
class ConnectionObject {
public:
    virtual ~ConnectionObject() = default;
    virtual QString UserName() const = 0;
    virtual QString Password() const = 0;
    // The client's address as text; an IPv4 client on a dual-stack socket is
    // reported in plain dotted form.
    virtual QString RemoteHost() const = 0;
    virtual QString RootDir() const = 0;
    virtual void setRootDir(const QString& dir) = 0;
    virtual QVariant Tag() const = 0;
    virtual void setTag(const QVariant& tag) = 0;
    virtual VirtualDirCollection& VirtualDirs() = 0;
    // Closes the connection; ConnectionClosed follows from the event loop.
    virtual void Disconnect() = 0;
    virtual TransferActivity Activity() const { return {}; }
};

// The values every connection keeps for the program; the engine's sessions
// and the tests' fake connections store them the same way.
class StoredConnection : public ConnectionObject {
public:
    QString UserName() const override { return userName_; }
    QString Password() const override { return password_; }
    QString RemoteHost() const override { return remoteHost_; }
    QString RootDir() const override { return rootDir_; }
    void setRootDir(const QString& dir) override { rootDir_ = dir; }
    QVariant Tag() const override { return tag_; }
    void setTag(const QVariant& tag) override { tag_ = tag; }
    VirtualDirCollection& VirtualDirs() override { return virtualDirs_; }

protected:
    QString userName_;
    QString password_;
    QString remoteHost_;
    QString rootDir_;
    QVariant tag_;
    VirtualDirCollection virtualDirs_;
};

// What the engine asks of the program. Implemented by the program's event
// handlers (and by fakes in tests).
class EngineEvents {
public:
    virtual ~EngineEvents() = default;
    virtual Verdict LoginRequest(ConnectionObject& c) = 0;
    virtual void ConnectionClosed(ConnectionObject& c) = 0;
    virtual void LogLine(ConnectionObject& c, const QString& line) = 0;
    virtual Verdict ChangeDirCheck(ConnectionObject& c, const QString& path) = 0;
    virtual Verdict MakeDirCheck(ConnectionObject& c, const QString& path) = 0;
    virtual Verdict RemoveDirCheck(ConnectionObject& c, const QString& path) = 0;
    virtual Verdict DeleteCheck(ConnectionObject& c, const QString& path) = 0;
    virtual Verdict RenameCheck(ConnectionObject& c, const QString& from, const QString& to) = 0;
    virtual Verdict UploadCheck(ConnectionObject& c, const QString& path) = 0;
    virtual Verdict DownloadCheck(ConnectionObject& c, const QString& path) = 0;
    virtual Verdict OtherCheckA(ConnectionObject& c, const QString& siteCommand) = 0;
    virtual Verdict OtherCheckB(ConnectionObject& c, const QString& path) = 0;
    virtual void OtherNoticeA(ConnectionObject& c, const QString& path, qint64 bytes) = 0;
    virtual void OtherNoticeB(ConnectionObject& c, const QString& path, qint64 bytes,
                              bool complete) = 0;
};

// The engine's properties and operations. Numeric properties keep the widths
// the settings hand-over converts to.
class FtpEngine {
public:
    virtual ~FtpEngine() = default;

    virtual void setEvents(EngineEvents* events) = 0;

    virtual QString LocalAddress() const = 0;
    virtual void setLocalAddress(const QString& address) = 0;
    // 1 to 65535; 0 never listens.
    virtual quint16 Port() const = 0;
    virtual void setPort(quint16 port) = 0;
    virtual QString ServerRootDir() const = 0;
    virtual void setServerRootDir(const QString& dir) = 0;
    virtual qint16 Timeout() const = 0;
    virtual void setTimeout(qint16 seconds) = 0;
    virtual qint16 DebugMode() const = 0;
    virtual void setDebugMode(qint16 mode) = 0;
    virtual qint16 DataLingerTime() const = 0;
    virtual void setDataLingerTime(qint16 seconds) = 0;
    virtual qint32 ResolveLinks() const = 0;
    virtual void setResolveLinks(qint32 resolve) = 0;
    virtual TlsSettings Tls() const = 0;
    virtual void setTls(const TlsSettings& tls) = 0;
    // The passive port range and public address; a change made while
    // listening (a host name resolved again) reaches every connection opened
    // after it (open ones keep the settings they started with).
    virtual PassiveSettings Passive() const = 0;
    virtual void setPassive(const PassiveSettings& passive) = 0;
    // Open control connections in all and from one address; 0: no limit.
    virtual void setConnectionLimits(int maxConnections, int maxPerAddress) = 0;
    // Where failed logins are counted and bans kept; null: no bans. The
    // caller keeps it alive while the engine runs.
    virtual void setLoginBans(LoginBans* bans) = 0;

    // Starts listening on LocalAddress:Port; false (never a crash or a block)
    // when the address is not this machine's or the port cannot be used.
    virtual bool Listen() = 0;
    // Why the last Listen() failed, in Italian for the operator (for example
    // which TLS file could not be used); empty after a success or when the
    // address or port alone was the reason.
    virtual QString ListenError() const = 0;
    // While listening: listens with the properties as they are now (address,
    // port, implicit-TLS port, TLS files) and hands them to new connections;
    // open connections keep running with what they had. A failure (the
    // reason in ListenError()) leaves the listener and properties as they were.
    virtual bool Relisten() = 0;
    // Closes the listener and every open connection.
    virtual void StopListening() = 0;
    virtual bool isListening() const = 0;
    // Open connections in the order they arrived.
    virtual QList<ConnectionObject*> Connections() const = 0;
    virtual qint16 Heartbeat() const = 0;
};

} // namespace kv::engine
