#pragma once
// The one OpenSSL context of a server start: certificate and key, protocol
// versions, ciphers and session tickets, shared by every connection so that
// data connections can resume their control connection's session. Tickets
// issued on a control connection carry that connection's token, which is
// how a data connection is told to belong to it.

#include "engine/TlsSettings.h"

#include <QByteArray>
#include <QString>
#include <memory>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace kv::engine {

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
    // `controlToken`; a data connection gets no tickets at all.
    SSL* newControlConnection(const QByteArray* controlToken) const;
    SSL* newDataConnection() const;

    // Whether the finished handshake of `data` resumed a session that the
    // control connection `control` (with its token) handed out.
    static bool resumedFrom(SSL* data, SSL* control, const QByteArray& controlToken);

private:
    explicit TlsContext(SSL_CTX* ctx) : ctx_(ctx) {}
    SSL_CTX* ctx_;
};

} // namespace kv::engine
