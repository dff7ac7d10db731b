#pragma once
// The FTP engine as the rest of the program sees it: properties set before a
// start, Listen/StopListening, the open connections, and the two questions
// the engine asks the program: may this login go ahead (and what does it
// grant), and here is a line for the log.
//
// Both are asked synchronously on the thread that owns the engine (the GUI
// thread). What happens on the server (sessions opening and closing, logins
// refused, transfers, files changed, bans) is told to every subscriber of the
// events::ServerEvents bus given with setNotifications().
//
// A login's LoginGrant is held by the session until it ends or logs in
// again; every file operation is decided from it by files::isAllowed (a
// refusal answers "550 Access denied" and changes nothing). The operation a
// command performs is declared in the command table.
//
// Paths in events are client-visible paths ("/dir/file"). A missing path
// answers "550 %s: No such file or directory." before any decision. SITE
// offers CHMOD (under the write right) and HELP; any other answers 504.

#include "engine/PassiveSettings.h"
#include "engine/TlsSettings.h"
#include "files/LoginGrant.h"
#include "files/VirtualDir.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>

namespace kv::events {
class ServerEvents;
}
namespace kv::files {
class OwnFiles;
}

namespace kv::engine {

class LoginBans;

using VirtualDir = files::VirtualDir;

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
// values and what its login granted, and may ask it to disconnect.
class ConnectionObject {
public:
    virtual ~ConnectionObject() = default;
    // Unique for the life of the process (see events::nextSessionId).
    virtual quint64 Id() const = 0;
    virtual QString UserName() const = 0;
    virtual QString Password() const = 0;
    // The client's address as text; an IPv4 client on a dual-stack socket is
    // reported in plain dotted form.
    virtual QString RemoteHost() const = 0;
    // The client's address as the log and the online list show it: empty
    // until the client first asks to log in (accepted or not), then RemoteHost.
    virtual QString LoginAddress() const = 0;
    // What the current login granted; null before a login is accepted.
    virtual const files::LoginGrant* Grant() const = 0;
    // The folder the client sees as "/": the grant's root once logged in.
    virtual QString RootDir() const = 0;
    // Closes the connection; the session's closing follows from the event loop.
    virtual void Disconnect() = 0;
    virtual TransferActivity Activity() const { return {}; }
    // When the client connected (UTC); invalid when not known.
    virtual QDateTime ConnectedAt() const { return {}; }
    // The client-visible folder the session is in ("/" at first).
    virtual QString CurrentFolder() const { return QStringLiteral("/"); }
    // Why its last login was refused, as the log says it; empty before any
    // and once one is accepted.
    virtual QString LoginRefusal() const { return {}; }
};

// The values every connection keeps for the program; the engine's sessions
// and the tests' fake connections store them the same way.
class StoredConnection : public ConnectionObject {
public:
    quint64 Id() const override { return id_; }
    QString UserName() const override { return userName_; }
    QString Password() const override { return password_; }
    QString RemoteHost() const override { return remoteHost_; }
    QString LoginAddress() const override { return loginAddress_; }
    const files::LoginGrant* Grant() const override { return grant_.get(); }
    QString RootDir() const override { return grant_ ? grant_->root : rootDir_; }
    QString LoginRefusal() const override { return loginRefusal_; }

protected:
    quint64 id_ = 0;
    QString userName_;
    QString password_;
    QString remoteHost_;
    QString loginAddress_;
    QString rootDir_; // before a login: the server's root
    QString loginRefusal_;
    std::shared_ptr<const files::LoginGrant> grant_;
};

// The program's answer to a login.
struct LoginDecision {
    enum class Outcome {
        Accepted,    // "230 User %s logged in.", with the grant
        Refused,     // "530 Login incorrect", counted as a failed attempt
        Unavailable, // the accounts could not be read: a temporary refusal, not counted
    };
    Outcome outcome = Outcome::Refused;
    std::shared_ptr<const files::LoginGrant> grant; // set when accepted
    QString reason; // Italian, for the log: why it was refused or unavailable

    static LoginDecision accepted(std::shared_ptr<const files::LoginGrant> grant) {
        return {Outcome::Accepted, std::move(grant), {}};
    }
    static LoginDecision refused(const QString& reason) { return {Outcome::Refused, {}, reason}; }
    static LoginDecision unavailable(const QString& reason) {
        return {Outcome::Unavailable, {}, reason};
    }
};

// What the engine asks of the program. Implemented by the program's event
// handler (and by fakes in tests).
class EngineEvents {
public:
    virtual ~EngineEvents() = default;
    virtual LoginDecision LoginRequest(ConnectionObject& c) = 0;
    virtual void LogLine(ConnectionObject& c, const QString& line) = 0;
};

// The engine's properties and operations. Numeric properties keep the widths
// the settings hand-over converts to.
class FtpEngine {
public:
    virtual ~FtpEngine() = default;

    virtual void setEvents(EngineEvents* events) = 0;
    // Where the engine tells what happens; null: nobody listens. The caller
    // keeps it alive while the engine runs.
    virtual void setNotifications(events::ServerEvents* notifications) = 0;

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
    // The program's own files, hidden from every login made afterwards
    // whatever its folders; null: none. The caller keeps them alive while
    // the engine runs.
    virtual void setOwnFiles(const files::OwnFiles* ownFiles) = 0;

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
};

} // namespace kv::engine
