#pragma once
// Refusals on the implicit TLS port. Its clients speak TLS first: a refusal
// in clear reaches them as a broken handshake ("wrong version number")
// instead of its reason. So the refusal is sent over TLS, after the
// handshake. A handshake costs the server about as much as the client, but
// an unfinished one holds memory until its time limit: only a few run at
// once, and a connection refused while they do is closed without a reply.

#include <QByteArray>
#include <QObject>

class QTcpSocket;

namespace kv::ftp {

class TlsContext;

class TlsRefusals : public QObject {
    Q_OBJECT
public:
    // At most `atOnce` handshakes of refused connections at the same time.
    explicit TlsRefusals(int atOnce, QObject* parent = nullptr);

    // Takes the connected socket: `reply` goes to the client once the
    // handshake (bounded by `handshakeMs`) is done, then the connection
    // closes. False when too many run already: the connection was closed
    // at once, without a reply.
    bool refuse(QTcpSocket* tcp, const TlsContext& context, const QByteArray& reply,
                int handshakeMs);
    // Handshakes of refused connections under way.
    int running() const { return running_; }

private:
    int atOnce_;
    int running_ = 0;
};

} // namespace kv::ftp
