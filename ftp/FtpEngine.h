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

#include "files/VirtualDir.h"
#include "ftp/PassiveSettings.h"
#include "ftp/TlsSettings.h"
#include "session/Connection.h"
#include "session/LoginDecision.h"

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
namespace kv::session {
class Admission;
class QuotaKeeper;
class RateLimiter;
} // namespace kv::session

namespace kv::ftp {

using VirtualDir = files::VirtualDir;

// The engine's properties and operations. Numeric properties keep the widths
// the settings hand-over converts to.
class FtpEngine {
public:
    virtual ~FtpEngine() = default;

    virtual void setEvents(session::EngineEvents* events) = 0;
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
    // Where new connections are admitted (bans and the connection limits,
    // counted with the other protocols' sessions); null: the engine's own,
    // without bans or limits. The caller keeps it alive while the engine runs.
    virtual void setAdmission(session::Admission* admission) = 0;
    // The speed limits downloads and uploads move under, shared with the
    // other protocols' sessions; null: none. The caller keeps it alive while
    // the engine runs; it reaches connections opened afterwards.
    virtual void setRateLimiter(session::RateLimiter* rates) = 0;
    // The program's own files, hidden from every login made afterwards
    // whatever its folders; null: none. The caller keeps them alive while
    // the engine runs.
    virtual void setOwnFiles(const files::OwnFiles* ownFiles) = 0;
    // Where uploads take their accounts' quotas, for logins made afterwards;
    // null: no quotas. The caller keeps it alive while the engine runs.
    virtual void setQuotaKeeper(session::QuotaKeeper* keeper) { (void)keeper; }

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
    virtual QList<session::ConnectionObject*> Connections() const = 0;
};

} // namespace kv::ftp
