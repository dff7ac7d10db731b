#include "ftp/TlsRefusals.h"

#include "ftp/TlsSocket.h"

#include <QTcpSocket>

namespace kv::ftp {

TlsRefusals::TlsRefusals(int atOnce, QObject* parent) : QObject(parent), atOnce_(atOnce) {}

bool TlsRefusals::refuse(QTcpSocket* tcp, const TlsContext& context, const QByteArray& reply,
                         int handshakeMs) {
    if (running_ >= atOnce_) {
        tcp->abort();
        tcp->deleteLater();
        return false;
    }
    ++running_;
    auto* tls = new TlsSocket(tcp, context, TlsSocket::Role::Control, handshakeMs, this);
    connect(tls, &QObject::destroyed, this, [this] { --running_; });
    connect(tls, &TlsSocket::encrypted, tls, [tls, reply] {
        tls->write(reply);
        // close_notify and the end once the reply is out; the socket goes
        // away by itself when closed, or after a limit.
        tls->closeGracefully(0);
    });
    // A handshake that fails, times out or is given up by the client.
    connect(tls, &StreamSocket::failed, tls, &QObject::deleteLater);
    connect(tls, &StreamSocket::remoteClosed, tls, &QObject::deleteLater);
    return true;
}

} // namespace kv::ftp
