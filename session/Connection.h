#pragma once
// One client session as the program sees it, whatever protocol it speaks:
// who it is, where it connects from, what its login granted and what it is
// moving. The protocol servers own the sessions; the program reads them and
// may ask one to disconnect.

#include "files/LoginGrant.h"

#include <QDateTime>
#include <QString>
#include <memory>

namespace kv::session {

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

} // namespace kv::session
