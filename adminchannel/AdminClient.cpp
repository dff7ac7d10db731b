// Connecting to a running server's administration socket and waiting for its answers.
#include "adminchannel/AdminClient.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

namespace kv {

AdminClient::Connect AdminClient::connectTo(const QString& socketPath, int timeoutMs) {
    socket_.connectToServer(socketPath);
    if (socket_.waitForConnected(timeoutMs))
        return Connect::Connected;
    error_ = socket_.errorString();
    return socket_.error() == QLocalSocket::SocketAccessError ? Connect::Denied : Connect::NoServer;
}

std::optional<QJsonObject> AdminClient::takeLine() {
    while (const auto line = reader_.takeLine()) {
        const QJsonDocument doc = QJsonDocument::fromJson(*line);
        if (doc.isObject())
            return doc.object();
    }
    return std::nullopt;
}

bool AdminClient::readMore(int timeoutMs) {
    socket_.waitForReadyRead(timeoutMs);
    if (!reader_.append(socket_.readAll())) {
        error_ = adminReplyTooLong();
        socket_.abort();
        return false;
    }
    return true;
}

std::optional<QJsonObject> AdminClient::request(const QJsonObject& request, int timeoutMs) {
    socket_.write(adminLine(request));
    socket_.flush();
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (auto line = takeLine())
            return line;
        if (reader_.overflowed())
            return std::nullopt;
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
        if (!readMore(int(std::max<qint64>(1, deadline.remainingTime()))))
            return std::nullopt;
    }
}

std::optional<QJsonObject> AdminClient::next() {
    while (true) {
        if (auto line = takeLine())
            return line;
        if (reader_.overflowed())
            return std::nullopt;
        if (socket_.state() != QLocalSocket::ConnectedState && socket_.bytesAvailable() == 0)
            return std::nullopt;
        if (!readMore(1000))
            return std::nullopt;
    }
}

} // namespace kv
