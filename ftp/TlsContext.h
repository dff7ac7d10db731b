#pragma once
// The one OpenSSL context of a server start: certificate and key, protocol
// versions, ciphers and session tickets, shared by every connection so that
// data connections can resume their control connection's session. Tickets
// issued on a control connection carry its owner (see TlsSessionOwner),
// sealed inside the ticket by the server's ticket key, which is how a data
// connection is told to belong to that client.

#include "ftp/TlsSettings.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>
#include <memory>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace kv::ftp {

// Whom a control connection's tickets are issued to: the connection itself
// (a random token) and, once logged in, the account and the client address.
// A data connection is the client's when it resumes a session issued to its
// own control connection, or to another control connection logged in as the
// same account from the same address (clients such as rclone share one
// session cache among all their control connections). A session issued
// before the login (a TLS 1.2 ticket comes with the handshake; a TLS 1.3 one
// goes to a client that waits for it, see ControlSession::onSilentAfterTls)
// names only its control connection: it is that client's own, and serves
// another control connection only while the issuing one is still open and
// logged in as the same account from the same address.
class TlsSessionOwner {
public:
    // The control connections of one context that are still open, by token.
    using LiveOwners = QHash<QByteArray, const TlsSessionOwner*>;
    // A fresh random token, not logged in; listed in `live` while it exists.
    explicit TlsSessionOwner(std::shared_ptr<LiveOwners> live = {});
    ~TlsSessionOwner();
    TlsSessionOwner(const TlsSessionOwner&) = delete;
    TlsSessionOwner& operator=(const TlsSessionOwner&) = delete;
    // Logged in as `accountId`/`login` from `client`; a null address (or an
    // empty login) forgets the login.
    void bind(qint32 accountId, const QString& login, const QHostAddress& client);
    bool isBound() const { return bytes_.size() > kTokenBytes; }
    // What the tickets carry: the token, then the login's binding if any.
    const QByteArray& bytes() const { return bytes_; }
    // Whether a session carrying `sealed` belongs to this owner.
    bool owns(const QByteArray& sealed) const;

private:
    static constexpr qsizetype kTokenBytes = 16;
    QByteArray token() const;
    QByteArray bytes_;
    std::shared_ptr<LiveOwners> live_;
};

class TlsContext {
public:
    struct Result {
        std::unique_ptr<TlsContext> context;
        QString error; // Italian, naming the option; empty on success
    };
    // Reads the files and checks them (readable, key matching the
    // certificate, certificate valid today, a usable version range).
    static Result create(const TlsSettings& settings);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A server-side connection object. A control connection's tickets carry
    // `owner`, and go out only when asked (issueTicket). A data connection
    // gets no tickets at all.
    SSL* newControlConnection(const TlsSessionOwner* owner) const;
    SSL* newDataConnection() const;

    // Sends a fresh ticket carrying the control connection's owner as it is
    // now (TLS 1.3), and marks its own session with it (TLS 1.2 sessions
    // resumed by id from the server's cache).
    static void issueTicket(SSL* control, const TlsSessionOwner& owner);

    // Whether the finished handshake of `data` resumed a session that
    // belongs to `owner`, the owner of the control connection `control`.
    static bool resumedFrom(SSL* data, SSL* control, const TlsSessionOwner& owner);

    // Where control connections list themselves (shared: they may outlive
    // the context after a reload).
    const std::shared_ptr<TlsSessionOwner::LiveOwners>& liveOwners() const { return liveOwners_; }

private:
    explicit TlsContext(SSL_CTX* ctx) : ctx_(ctx) {}
    SSL_CTX* ctx_;
    std::shared_ptr<TlsSessionOwner::LiveOwners> liveOwners_;
};

} // namespace kv::ftp
