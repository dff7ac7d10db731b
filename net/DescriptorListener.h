#pragma once
// A listening socket that hands each accepted connection on as a bare
// descriptor, so the engine makes the socket itself (and may choose its type).

#include <QTcpServer>
#include <QTimer>

namespace kv::net {

class DescriptorListener : public QTcpServer {
    Q_OBJECT
public:
    explicit DescriptorListener(QObject* parent = nullptr) : QTcpServer(parent) {
        // Out of descriptors, QTcpServer stops accepting for good. The
        // clients wait in the queue instead, and accepting resumes shortly,
        // when sessions may have ended.
        connect(this, &QTcpServer::acceptError, this,
                [this] { QTimer::singleShot(kRetryAfterMs, this, [this] { resumeAccepting(); }); });
    }
    // Why listen() on `address` failed, in Italian.
    QString failureText(const QHostAddress& address) const {
        switch (serverError()) {
        case QAbstractSocket::AddressInUseError:
            return QStringLiteral("indirizzo già in uso");
        case QAbstractSocket::SocketAccessError:
            return QStringLiteral("permesso negato: le porte sotto 1024 richiedono privilegi");
        case QAbstractSocket::SocketAddressNotAvailableError:
            return QStringLiteral("l'indirizzo %1 non è di questo computer")
                .arg(address.toString());
        case QAbstractSocket::SocketResourceError:
            return QStringLiteral("risorse di sistema esaurite");
        default:
            return QStringLiteral("errore del sistema (%1)").arg(errorString());
        }
    }

Q_SIGNALS:
    void descriptorReady(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { Q_EMIT descriptorReady(descriptor); }

private:
    static constexpr int kRetryAfterMs = 100;
};

} // namespace kv::net
