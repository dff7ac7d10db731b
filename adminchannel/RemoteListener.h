#pragma once
// The door of remote administration: a TCP listener that speaks TLS 1.3 only
// with the administration certificate. A connection is handed over once its
// handshake is done; one that does not finish it in time, asks for another
// version or speaks plain text is closed. At most `maxHandshakes` are in
// progress at once, so a crowd of half-open connections costs little.

#include "adminchannel/AdminCertificate.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QTcpServer>

class QSslSocket;

namespace kv {

class RemoteListener : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kHandshakeMs = 10 * 1000;

    RemoteListener(const AdminCertificate& certificate, int maxHandshakes,
                   QObject* parent = nullptr);

    // The server's TLS: 1.3 only, the certificate and key, no client certificate.
    static QSslConfiguration serverTls(const AdminCertificate& certificate);

Q_SIGNALS:
    // A connection whose handshake is done; the receiver owns it.
    void ready(QSslSocket* socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslConfiguration tls_;
    int maxHandshakes_;
    int handshaking_ = 0;
};

} // namespace kv
