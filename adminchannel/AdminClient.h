#pragma once
// The command line's side of the administration channel: connects to the
// socket of a data folder, sends one JSON request per line and reads the
// answers and, when following, the events. It is a short-lived process of
// its own, so it may wait (with time limits) where the server never does;
// the window uses AdminConnection instead, which never waits.

#include "adminchannel/AdminProtocol.h"

#include <QJsonObject>
#include <QLocalSocket>
#include <QString>
#include <optional>

namespace kv {

class AdminClient {
public:
    enum class Connect { Connected, NoServer, Denied };
    Connect connectTo(const QString& socketPath, int timeoutMs = 3000);
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

    QLocalSocket socket_;
    AdminLineReader reader_{kAdminMaxReplyBytes};
    QString error_;
};

} // namespace kv
