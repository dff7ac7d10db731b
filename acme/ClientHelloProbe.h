#pragma once
// What a TLS client asks for in its ClientHello (the server name and the
// ALPN protocols), read before the handshake starts, so the certificate can
// be chosen by name and a client that does not ask for "acme-tls/1" is
// refused before it sees one. Qt's TLS server offers no server-name
// callback; OpenSSL parses the bytes peeked from the socket here, in a
// handshake that is abandoned as soon as the ClientHello is read.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <memory>

using SSL_CTX = struct ssl_ctx_st;

namespace kv::acme {

struct ClientHello {
    enum class Status { Incomplete, Read, NotTls };
    Status status = Status::Incomplete;
    QString serverName;       // SNI host name, lower case; empty when none was sent
    QByteArrayList protocols; // ALPN, in the client's order
};

class ClientHelloProbe {
public:
    ClientHelloProbe();
    ~ClientHelloProbe();
    ClientHelloProbe(const ClientHelloProbe&) = delete;
    ClientHelloProbe& operator=(const ClientHelloProbe&) = delete;

    // `bytes` are the first ones the client sent.
    ClientHello read(const QByteArray& bytes) const;

private:
    SSL_CTX* context_ = nullptr;
};

} // namespace kv::acme
