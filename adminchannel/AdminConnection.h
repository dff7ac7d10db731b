#pragma once
// A client of the administration channel for a program with an event loop
// to keep running (the window): it never waits. Answers come back through
// the callback given with each request, in the order the requests went out;
// after "follow" the server's event lines arrive as eventReceived(). A line
// from the server longer than kAdminMaxReplyBytes ends the connection.

#include "adminchannel/AdminProtocol.h"

#include <QJsonObject>
#include <QObject>
#include <QQueue>
#include <functional>

class QLocalSocket;

namespace kv {

class AdminConnection : public QObject {
    Q_OBJECT
public:
    enum class Failure { NoServer, Denied };
    // An answer, or nullopt when the connection ended before it came.
    using AnswerFn = std::function<void(const std::optional<QJsonObject>&)>;

    explicit AdminConnection(QObject* parent = nullptr);
    ~AdminConnection() override;

    // Starts connecting; connected() or failed() follows (possibly before
    // this returns, for a socket that answers or is missing at once).
    void connectTo(const QString& socketPath);
    bool isConnected() const;
    // Sends `request`; `answer` is called once, with nullopt if the
    // connection ends first. Ignored (answered with nullopt) when not connected.
    void request(const QJsonObject& request, AnswerFn answer);
    // Ends the connection without emitting closed().
    void disconnectQuietly();
    // Why the connection ended or failed, in Italian.
    QString error() const { return error_; }

    // For tests: the longest line accepted from the server.
    void setReplyLimit(qsizetype bytes) { replyLimit_ = bytes; }

Q_SIGNALS:
    void connected();
    void failed(kv::AdminConnection::Failure failure);
    // An event line of the subscription ({"event":...}).
    void eventReceived(const QJsonObject& event);
    // The server closed the channel (or sent too long a line); error() says which.
    void closed();

private:
    void onReadyRead();
    void onDisconnected();
    void failPending();
    void endTooLong();

    QLocalSocket* socket_ = nullptr;
    qsizetype replyLimit_ = kAdminMaxReplyBytes;
    AdminLineReader reader_{kAdminMaxReplyBytes};
    QQueue<AnswerFn> pending_;
    QString error_;
    bool wasConnected_ = false;
    bool ending_ = false;
};

} // namespace kv
