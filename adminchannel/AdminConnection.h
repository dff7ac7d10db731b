#pragma once
// A client of the administration channel for a program with an event loop
// to keep running (the window): it never waits. Answers come back through
// the callback given with each request, in the order the requests went out;
// after "follow" the server's event lines arrive as eventReceived(). A line
// from the server longer than kAdminMaxReplyBytes ends the connection.
//
// It reaches the local socket of a data folder, or a remote server over TLS:
// there the server's certificate is compared with the fingerprint expected
// before a byte is sent, then the login line goes out, and connected() comes
// only once the server accepted the password.

#include "adminchannel/AdminProtocol.h"
#include "adminchannel/RemoteAdmin.h"

#include <QJsonObject>
#include <QObject>
#include <QQueue>
#include <functional>

class QIODevice;
class QLocalSocket;
class QSslSocket;

namespace kv {

class AdminConnection : public QObject {
    Q_OBJECT
public:
    enum class Failure {
        NoServer,           // nobody answers there (or the TLS handshake failed)
        Denied,             // the local socket refused this user
        WrongPassword,      // the remote server refused the password ("denied")
        AddressRefused,     // the remote server refuses this address ("refused")
        UnknownCertificate, // no fingerprint was expected: seenFingerprint() is to be judged
        CertificateChanged, // not the fingerprint expected: seenFingerprint() says which
    };
    // An answer, or nullopt when the connection ended before it came.
    using AnswerFn = std::function<void(const std::optional<QJsonObject>&)>;

    explicit AdminConnection(QObject* parent = nullptr);
    ~AdminConnection() override;

    // Starts connecting; connected() or failed() follows (possibly before
    // this returns, for a socket that answers or is missing at once).
    void connectTo(const QString& socketPath);
    // Connects to a remote server over TLS; `expectedFingerprint` empty for
    // a server never trusted (then it fails with UnknownCertificate before
    // sending anything).
    void connectToRemote(const RemoteServerAddress& server, const QString& expectedFingerprint,
                         const QString& password);
    // The fingerprint the remote server showed in its last handshake.
    QString seenFingerprint() const { return seenFingerprint_; }
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
    // Ends any connection and forgets its state, before a new one.
    void startAfresh();
    void onReadyRead();
    void onDisconnected();
    void failPending();
    void endTooLong();
    void useLocal();
    void useTls();
    void abortSocket();
    void onEncrypted();
    void onLoginAnswer(const QJsonObject& answer);
    void failBeforeConnected(Failure failure, const QString& reason);

    QLocalSocket* local_ = nullptr;
    QSslSocket* tls_ = nullptr;
    QIODevice* socket_ = nullptr; // the one in use
    QString expectedFingerprint_;
    QString seenFingerprint_;
    QString password_;
    bool loggingIn_ = false; // TLS: the login line sent, no answer yet
    qsizetype replyLimit_ = kAdminMaxReplyBytes;
    AdminLineReader reader_{kAdminMaxReplyBytes};
    QQueue<AnswerFn> pending_;
    QString error_;
    bool wasConnected_ = false;
    bool ending_ = false;
};

} // namespace kv
