// The window's administration client: requests, answers and events without waiting.
#include "adminchannel/AdminConnection.h"

#include <QJsonDocument>
#include <QLocalSocket>

namespace kv {

AdminConnection::AdminConnection(QObject* parent) : QObject(parent) {
    socket_ = new QLocalSocket(this);
    connect(socket_, &QLocalSocket::connected, this, [this] {
        wasConnected_ = true;
        Q_EMIT connected();
    });
    connect(socket_, &QLocalSocket::readyRead, this, &AdminConnection::onReadyRead);
    connect(socket_, &QLocalSocket::disconnected, this, &AdminConnection::onDisconnected);
    connect(socket_, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError e) {
        if (wasConnected_ || ending_)
            return; // the end of an open channel comes as disconnected()
        error_ = socket_->errorString();
        Q_EMIT failed(e == QLocalSocket::SocketAccessError ? Failure::Denied : Failure::NoServer);
    });
}

AdminConnection::~AdminConnection() {
    ending_ = true;
    socket_->disconnect(this);
    socket_->abort();
    pending_.clear(); // nobody is left to tell
}

void AdminConnection::connectTo(const QString& socketPath) {
    ending_ = false;
    wasConnected_ = false;
    error_.clear();
    reader_ = AdminLineReader(replyLimit_);
    socket_->connectToServer(socketPath);
}

bool AdminConnection::isConnected() const {
    return socket_->state() == QLocalSocket::ConnectedState;
}

void AdminConnection::request(const QJsonObject& request, AnswerFn answer) {
    if (!isConnected()) {
        if (answer)
            answer(std::nullopt);
        return;
    }
    pending_.enqueue(std::move(answer));
    socket_->write(adminLine(request));
}

void AdminConnection::disconnectQuietly() {
    ending_ = true;
    socket_->abort();
    failPending();
}

void AdminConnection::onReadyRead() {
    if (!reader_.append(socket_->readAll())) {
        endTooLong();
        return;
    }
    while (const auto line = reader_.takeLine()) {
        const QJsonDocument doc = QJsonDocument::fromJson(*line);
        if (!doc.isObject())
            continue;
        const QJsonObject message = doc.object();
        if (message.contains(QStringLiteral("event"))) {
            Q_EMIT eventReceived(message);
        } else if (!pending_.isEmpty()) {
            const AnswerFn answer = pending_.dequeue();
            if (answer)
                answer(message);
        }
        if (!isConnected() && ending_)
            return; // a handler closed the connection
    }
    if (reader_.overflowed())
        endTooLong();
}

void AdminConnection::endTooLong() {
    error_ = adminReplyTooLong();
    ending_ = true; // what aborting reports is not another end
    socket_->abort();
    failPending();
    Q_EMIT closed();
}

void AdminConnection::failPending() {
    QQueue<AnswerFn> waiting;
    waiting.swap(pending_);
    for (const AnswerFn& answer : std::as_const(waiting)) {
        if (answer)
            answer(std::nullopt);
    }
}

void AdminConnection::onDisconnected() {
    if (ending_)
        return;
    if (error_.isEmpty())
        error_ = QStringLiteral("Il server ha chiuso il canale di amministrazione");
    failPending();
    if (wasConnected_)
        Q_EMIT closed();
}

} // namespace kv
