#include "acme/Http01Listener.h"

#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

namespace kv::acme {

namespace {

QByteArray reply(const QByteArray& status, const QByteArray& body = {}) {
    const QByteArray text = body.isNull() ? status + '\n' : body;
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(text.size()) +
           "\r\nConnection: close\r\n\r\n" + text;
}

// The end of the request's head (after the blank line), or -1.
qsizetype headEnd(const QByteArray& buffer) {
    const qsizetype crlf = buffer.indexOf("\r\n\r\n");
    if (crlf >= 0)
        return crlf + 4;
    const qsizetype lf = buffer.indexOf("\n\n");
    return lf >= 0 ? lf + 2 : -1;
}

} // namespace

Http01Listener::Http01Listener(const PublishedChallenges& published, ChallengeLimits limits,
                               QObject* parent)
    : QTcpServer(parent), published_(published), limits_(limits) {}

QByteArray Http01Listener::answer(const QByteArray& head) const {
    const qsizetype lineEnd = head.indexOf('\n');
    const QList<QByteArray> parts = head.left(lineEnd).trimmed().split(' ');
    if (parts.size() != 3 || (parts[2] != "HTTP/1.0" && parts[2] != "HTTP/1.1"))
        return reply("400 Bad Request");
    if (parts[0] != "GET")
        return reply("405 Method Not Allowed");
    if (const auto body = published_.http01Body(parts[1]))
        return reply("200 OK", *body);
    return reply("404 Not Found");
}

void Http01Listener::incomingConnection(qintptr descriptor) {
    if (connections_ >= limits_.maxConnections) {
        ::close(int(descriptor));
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    socket->setReadBufferSize(limits_.maxRequestBytes + 1);
    ++connections_;
    connect(socket, &QObject::destroyed, this, [this] { --connections_; });
    // The whole exchange, however slow the client, ends by this deadline.
    QTimer::singleShot(limits_.connectionMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto answered = std::make_shared<bool>(false);
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, answered] {
        if (*answered) {
            socket->readAll(); // one request per connection: the rest is ignored
            return;
        }
        // Peek, so that nothing past the limit is ever buffered here.
        const QByteArray buffer = socket->peek(limits_.maxRequestBytes + 1);
        const qsizetype end = headEnd(buffer);
        if (end < 0 && buffer.size() <= limits_.maxRequestBytes)
            return; // the head is not complete yet
        *answered = true;
        socket->write(end < 0 || end > limits_.maxRequestBytes
                          ? reply("431 Request Header Fields Too Large")
                          : answer(buffer.left(end)));
        socket->readAll();
        socket->disconnectFromHost();
    });
}

} // namespace kv::acme
