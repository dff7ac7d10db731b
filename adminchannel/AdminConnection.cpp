// The window's administration client: requests, answers and events without waiting.
#include "adminchannel/AdminConnection.h"

#include <QJsonDocument>
#include <QLocalSocket>
#include <QSslSocket>

namespace kv {

AdminConnection::AdminConnection(QObject* parent) : QObject(parent) {}

AdminConnection::~AdminConnection() {
    ending_ = true;
    if (socket_) {
        socket_->disconnect(this);
        abortSocket();
    }
    pending_.clear(); // nobody is left to tell
}

void AdminConnection::useLocal() {
    if (local_) {
        socket_ = local_;
        return;
    }
    local_ = new QLocalSocket(this);
    socket_ = local_;
    connect(local_, &QLocalSocket::connected, this, [this] {
        wasConnected_ = true;
        Q_EMIT connected();
    });
    connect(local_, &QLocalSocket::readyRead, this, &AdminConnection::onReadyRead);
    connect(local_, &QLocalSocket::disconnected, this, &AdminConnection::onDisconnected);
    connect(local_, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError e) {
        if (wasConnected_ || ending_)
            return; // the end of an open channel comes as disconnected()
        error_ = local_->errorString();
        Q_EMIT failed(e == QLocalSocket::SocketAccessError ? Failure::Denied : Failure::NoServer);
    });
}

void AdminConnection::abortSocket() {
    if (socket_ == local_ && local_)
        local_->abort();
    else if (socket_ == tls_ && tls_)
        tls_->abort();
}

void AdminConnection::startAfresh() {
    if (socket_)
        abortSocket();
    ending_ = false;
    wasConnected_ = false;
    loggingIn_ = false;
    error_.clear();
    reader_ = AdminLineReader(replyLimit_);
}

void AdminConnection::connectTo(const QString& socketPath) {
    startAfresh();
    useLocal();
    local_->connectToServer(socketPath);
}

bool AdminConnection::isConnected() const {
    if (socket_ == local_ && local_)
        return local_->state() == QLocalSocket::ConnectedState;
    // Over TLS the channel is open once the password was accepted.
    return tls_ && socket_ == tls_ && wasConnected_ &&
           tls_->state() == QAbstractSocket::ConnectedState;
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
    if (socket_)
        abortSocket();
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
        if (loggingIn_) {
            onLoginAnswer(message);
        } else if (message.contains(QStringLiteral("event"))) {
            Q_EMIT eventReceived(message);
        } else if (!pending_.isEmpty()) {
            const AnswerFn answer = pending_.dequeue();
            if (answer)
                answer(message);
        }
        if (ending_ || (!isConnected() && wasConnected_))
            return; // a handler closed the connection
    }
    if (reader_.overflowed())
        endTooLong();
}

void AdminConnection::endTooLong() {
    error_ = adminReplyTooLong();
    ending_ = true; // what aborting reports is not another end
    abortSocket();
    failPending();
    if (wasConnected_)
        Q_EMIT closed();
    else
        Q_EMIT failed(Failure::NoServer);
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
    if (loggingIn_ && socket_->bytesAvailable() > 0)
        onReadyRead(); // the answer that came with the end
    if (ending_)
        return;
    if (error_.isEmpty())
        error_ = QStringLiteral("Il server ha chiuso il canale di amministrazione");
    failPending();
    if (wasConnected_)
        Q_EMIT closed();
    else if (socket_ == tls_)
        failBeforeConnected(Failure::NoServer, error_);
}

} // namespace kv
