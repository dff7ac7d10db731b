#pragma once
// A stand-in for an ACME CA's plain GETs on loopback (HTTP, no TLS).

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>

namespace kv {

// Answers GET PATH with the body set for PATH, 404 otherwise; remembers the paths asked.
class StandInCa : public QObject {
public:
    StandInCa() {
        connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
        server_.listen(QHostAddress::LocalHost);
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }
    QHash<QByteArray, QByteArray> bodies;
    QList<QByteArray> asked;

private:
    void accept() {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const QByteArray path = socket->readLine().split(' ').value(1);
                asked << path;
                const bool known = bodies.contains(path);
                const QByteArray body = bodies.value(path);
                socket->write((known ? QByteArray("HTTP/1.1 200 OK\r\n")
                                     : QByteArray("HTTP/1.1 404 Not Found\r\n")) +
                              "Content-Type: application/json\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                              body);
                socket->disconnectFromHost();
            });
        }
    }
    QTcpServer server_;
};

} // namespace kv
