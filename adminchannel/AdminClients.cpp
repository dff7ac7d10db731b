// The administration channel's clients: accepting, checking, reading and
// answering without ever waiting on one, and letting them go.
#include "adminchannel/AdminChannel.h"

#include "adminchannel/AdminChannelClient.h"
#include "core/ProgramCore.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace kv {

namespace {
// How long a closing client may take to read its last line.
constexpr int kClosingGraceMs = 2000;
} // namespace

void AdminChannel::onNewConnection() {
    while (server_ && server_->hasPendingConnections()) {
        QLocalSocket* socket = server_->nextPendingConnection();
        const auto peer = peerCredentials(int(socket->socketDescriptor()));
        if (!peer) {
            refuse(socket, adminError(QStringLiteral(
                               "Accesso negato: credenziali del client non leggibili")));
            continue;
        }
        if (!mayAdminister(*peer, *rule_)) {
            refuse(socket, adminError(adminRefusal(*peer, *rule_)));
            continue;
        }
        if (countClients(false) >= kMaxClients) {
            refuse(socket, adminError(QStringLiteral("Troppi client di amministrazione "
                                                     "collegati (al massimo %1)")
                                          .arg(kMaxClients)));
            continue;
        }
        addClient(socket);
    }
}

int AdminChannel::countClients(bool remote) const {
    return int(std::count_if(clients_.cbegin(), clients_.cend(),
                             [remote](const Client* c) { return c->remote == remote; }));
}

void AdminChannel::addClient(QIODevice* socket, const QString& remoteAddress) {
    auto* client = new Client;
    client->socket = socket;
    client->remote = !remoteAddress.isEmpty();
    client->address = remoteAddress;
    client->idle.setSingleShot(true);
    client->idle.setInterval(idleMs_);
    connect(&client->idle, &QTimer::timeout, this, [this, client] {
        send(client, adminError(QStringLiteral("Nessuna richiesta: connessione chiusa")));
        drop(client, true);
    });
    client->resume.setSingleShot(true);
    client->resume.setInterval(0);
    connect(&client->resume, &QTimer::timeout, this, [this, client] { onReadyRead(client); });
    client->answer.setSingleShot(true);
    // A stranger's lines stay short until the password is given.
    client->reader.setLimit(client->remote ? kAdminMaxLineBytes : kAdminMaxRequestBytes);
    adminsocket::setReadBufferSize(socket, kAdminMaxLineBytes);
    connect(socket, &QIODevice::readyRead, this, [this, client] { onReadyRead(client); });
    adminsocket::onDisconnected(socket, this, [this, client] { drop(client, false); });
    clients_.append(client);
    client->idle.start();
    if (socket->bytesAvailable() > 0)
        onReadyRead(client);
}

void AdminChannel::refuse(QIODevice* socket, const QByteArray& line) {
    socket->disconnect(this);
    socket->write(line);
    adminsocket::closeAfterSending(socket, kClosingGraceMs);
}

void AdminChannel::onReadyRead(Client* client) {
    // A refused login's answer waits its delay; what comes meanwhile waits too.
    if (client->dropped || client->answer.isActive())
        return;
    client->idle.start();
    const QString tooLong =
        QStringLiteral("Riga troppo lunga: al massimo %1 byte").arg(client->reader.limit());
    // New input only once the lines already read are answered: what the
    // client sends meanwhile waits in the socket, whose buffer is bounded.
    if (!client->reader.hasLine() && !client->reader.append(client->socket->readAll())) {
        send(client, adminError(tooLong));
        drop(client, true);
    }
    for (int answered = 0; !client->dropped && answered < kRequestsPerTurn;) {
        const auto line = client->reader.takeLine();
        if (!line) {
            if (client->reader.overflowed()) {
                send(client, adminError(tooLong));
                drop(client, true);
            }
            break;
        }
        if (!line->trimmed().isEmpty()) {
            handle(client, *line);
            ++answered;
        }
        if (client->answer.isActive())
            return;
    }
    if (client->dropped)
        return;
    if (client->following)
        client->idle.stop();
    if (client->reader.hasLine() || client->socket->bytesAvailable() > 0)
        client->resume.start(); // the rest on a later turn
}

void AdminChannel::handle(Client* client, const QByteArray& line) {
    AdminParse parsed = parseAdminRequest(line);
    if (client->remote && !client->loggedIn) {
        handleLogin(client, parsed.request.value_or(AdminRequest{}));
        return;
    }
    if (!parsed.request) {
        send(client, adminError(parsed.error));
        return;
    }
    parsed.request->remote = client->remote;
    if (parsed.request->op == QLatin1String("follow")) {
        client->following = true;
        updateProgressSubscription();
        send(client,
             adminLine({{QStringLiteral("ok"), true}, {QStringLiteral("following"), true}}));
        return;
    }
    QJsonObject answer = operations_.answer(*parsed.request);
    if (parsed.request->op == QLatin1String("status") &&
        answer.value(QStringLiteral("ok")).toBool()) {
        if (const QString fingerprint = remoteFingerprint(); !fingerprint.isEmpty())
            answer.insert(QStringLiteral("adminFingerprint"), fingerprint);
        answer.insert(QStringLiteral("adminPort"), int(remotePort()));
    }
    send(client, adminLine(answer));
}

void AdminChannel::send(Client* client, const QByteArray& line) {
    if (client->dropped)
        return;
    if (client->socket->bytesToWrite() + line.size() > kMaxPendingBytes) {
        // It does not read what it asked for: let it go rather than hold more.
        drop(client, false);
        return;
    }
    client->socket->write(line);
}

void AdminChannel::drop(Client* client, bool graceful) {
    if (client->dropped)
        return;
    client->dropped = true;
    client->idle.stop();
    client->resume.stop();
    client->answer.stop();
    clients_.removeOne(client);
    if (client->loggedIn)
        core_.WriteLog(
            QStringLiteral("Amministrazione remota: fine dell'accesso da %1").arg(client->address));
    QIODevice* socket = client->socket;
    socket->disconnect(this);
    if (graceful) {
        adminsocket::closeAfterSending(socket, kClosingGraceMs);
    } else {
        adminsocket::abort(socket);
        socket->deleteLater();
    }
    if (client->following)
        updateProgressSubscription();
    // Deleted on a later turn: its own timer or handler may be calling.
    retired_.append(client);
    if (retired_.size() == 1)
        QTimer::singleShot(0, this, [this] {
            qDeleteAll(retired_);
            retired_.clear();
        });
}

} // namespace kv
