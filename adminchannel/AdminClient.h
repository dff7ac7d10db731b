#pragma once
// The command line's side of the administration channel: connects to the
// socket of a data folder, or over TLS to a remote server, sends one JSON
// request per line and reads the answers and, when following, the events.
// It is a short-lived process of its own, so it may wait (with time limits)
// where the server never does; the window uses AdminConnection instead,
// which never waits.

#include "adminchannel/AdminProtocol.h"
#include "adminchannel/RemoteAdmin.h"

#include <QJsonObject>
#include <QLocalSocket>
#include <QSslSocket>
#include <QString>
#include <optional>

namespace kv {

class AdminClient {
public:
    enum class Connect { Connected, NoServer, Denied };
    Connect connectTo(const QString& socketPath, int timeoutMs = 3000);

    // A remote server: first the TLS handshake, which sends nothing of ours
    // (Connected or NoServer, error() says why), then, once the caller has
    // judged fingerprint(), the login. A server whose fingerprint is not
    // trusted is left with abandon().
    enum class Remote { Connected, NoServer, PasswordRefused, AddressRefused };
    Remote handshake(const RemoteServerAddress& server, int timeoutMs = 10000);
    QString fingerprint() const { return fingerprint_; }
    Remote login(const QString& password, int timeoutMs = 30000);
    void abandon();

    QString error() const { return error_; }

    // Sends `request` and waits for its answer; nullopt (error() says why)
    // when the server closed, did not answer in time or sent a line longer
    // than kAdminMaxReplyBytes.
    std::optional<QJsonObject> request(const QJsonObject& request, int timeoutMs = 30000);
    // The next line from the server, waiting as long as it takes; nullopt
    // once the server has closed the channel (or sent too long a line).
    std::optional<QJsonObject> next();

private:
    std::optional<QJsonObject> takeLine();
    bool readMore(int timeoutMs);
    bool connected() const;

    QLocalSocket socket_;
    QSslSocket tls_;
    QIODevice* device_ = &socket_;
    AdminLineReader reader_{kAdminMaxReplyBytes};
    QString fingerprint_;
    QString error_;
};

} // namespace kv
