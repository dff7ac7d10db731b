#pragma once
// One client of the administration channel, local (QLocalSocket) or remote
// (QSslSocket after its handshake), and the few things done to its socket
// that QIODevice does not say. Private to AdminChannel's files.

#include "adminchannel/AdminChannel.h"
#include "adminchannel/AdminProtocol.h"

#include <QIODevice>
#include <QTimer>
#include <functional>

namespace kv {

struct AdminChannel::Client {
    QIODevice* socket = nullptr;
    AdminLineReader reader;
    QTimer idle;
    QTimer resume; // zero-time: continues reading after a full turn
    QTimer answer; // a refused login's answer, after the delay
    bool following = false;
    bool dropped = false;
    bool remote = false;   // over TLS: the login comes first
    bool loggedIn = false; // a remote client gave the password
    QString address;       // a remote client's address
};

namespace adminsocket {
// Calls `gone` (in `context`) when the peer ends the connection.
void onDisconnected(QIODevice* socket, QObject* context, std::function<void()> gone);
void abort(QIODevice* socket);
void flush(QIODevice* socket);
void setReadBufferSize(QIODevice* socket, qint64 bytes);
// Lets `socket` send what it has, then closes it and deletes it (aborts
// after `graceMs`); what the peer sends meanwhile is read and dropped.
void closeAfterSending(QIODevice* socket, int graceMs);
} // namespace adminsocket

} // namespace kv
