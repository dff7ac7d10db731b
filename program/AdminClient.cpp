// Connecting to a running server's administration socket.
#include "program/AdminClient.h"

#include "core/AdminProtocol.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

namespace kv::cli {

AdminClient::Connect AdminClient::connectTo(const QString& socketPath, int timeoutMs) {
    socket_.connectToServer(socketPath);
    if (socket_.waitForConnected(timeoutMs))
        return Connect::Connected;
    error_ = socket_.errorString();
    return socket_.error() == QLocalSocket::SocketAccessError ? Connect::Denied : Connect::NoServer;
}

std::optional<QJsonObject> AdminClient::takeLine() {
    while (true) {
        const qsizetype end = buffer_.indexOf('\n');
        if (end < 0)
            return std::nullopt;
        const QByteArray line = buffer_.left(end);
        buffer_.remove(0, end + 1);
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            return doc.object();
    }
}

std::optional<QJsonObject> AdminClient::request(const QJsonObject& request, int timeoutMs) {
    socket_.write(adminLine(request));
    socket_.flush();
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (auto line = takeLine())
            return line;
        if (socket_.state() != QLocalSocket::ConnectedState && socket_.bytesAvailable() == 0) {
            error_ =
                QStringLiteral("Il server ha chiuso il canale di amministrazione senza rispondere");
            return std::nullopt;
        }
        if (deadline.hasExpired()) {
            error_ =
                QStringLiteral("Il server non ha risposto entro %1 secondi").arg(timeoutMs / 1000);
            return std::nullopt;
        }
        socket_.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        buffer_.append(socket_.readAll());
    }
}

std::optional<QJsonObject> AdminClient::next() {
    while (true) {
        if (auto line = takeLine())
            return line;
        if (socket_.state() != QLocalSocket::ConnectedState && socket_.bytesAvailable() == 0)
            return std::nullopt;
        socket_.waitForReadyRead(1000);
        buffer_.append(socket_.readAll());
    }
}

} // namespace kv::cli
