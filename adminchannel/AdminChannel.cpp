// The administration socket: accepting, checking, reading and answering
// without ever waiting on a client.
#include "adminchannel/AdminChannel.h"

#include "adminchannel/AdminChannelClient.h"
#include "adminchannel/RemoteListener.h"
#include "core/ProgramCore.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSaveFile>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {
// How long a closing client may take to read its last line.
constexpr int kClosingGraceMs = 2000;
} // namespace

AdminChannel::AdminChannel(ProgramCore& core, AdminOperations::ReloadFn reload, QObject* parent)
    : QObject(parent), core_(core), operations_(core, std::move(reload)) {
    auto& bus = core_.notifications();
    connect(&bus, &events::ServerEvents::logLine, this, [this](const events::LogLine& line) {
        broadcast([&] { return AdminOperations::logEvent(line); });
    });
    connect(&bus, &events::ServerEvents::sessionOpened, this, [this](const events::SessionInfo& s) {
        broadcast([&] { return AdminOperations::sessionEvent(QStringLiteral("opened"), s); });
    });
    connect(&bus, &events::ServerEvents::loggedIn, this, [this](const events::SessionInfo& s) {
        broadcast([&] { return operations_.loggedInEvent(s); });
    });
    connect(&bus, &events::ServerEvents::loginFailed, this, [this](const events::LoginFailure& f) {
        broadcast([&] { return AdminOperations::loginFailedEvent(f); });
    });
    connect(&bus, &events::ServerEvents::sessionClosed, this, [this](const events::SessionInfo& s) {
        progressSent_.remove(s.id);
        broadcast([&] { return AdminOperations::sessionEvent(QStringLiteral("closed"), s); });
    });
    connect(&bus, &events::ServerEvents::transferStarted, this,
            [this](const events::TransferEvent& t) {
                broadcast([&] {
                    return operations_.countedTransferEvent(QStringLiteral("transferStarted"), t);
                });
            });
    connect(&bus, &events::ServerEvents::transferFinished, this,
            [this](const events::TransferEvent& t) {
                progressSent_.remove(t.session.id);
                broadcast([&] {
                    return operations_.countedTransferEvent(QStringLiteral("transferFinished"), t);
                });
            });
    connect(&bus, &events::ServerEvents::addressBanned, this, [this](const events::AddressBan& b) {
        broadcast([&] { return AdminOperations::banEvent(b); });
    });
    connect(&bus, &events::ServerEvents::settingsApplied, this, [this] {
        if (server_)
            configureRemote(); // remote administration as the options now say
    });
    connect(&core_.loginBans(), &session::LoginBans::banStarted, this,
            [this](const QString& address) { dropAddress(address); });
    connect(&bus, &events::ServerEvents::banLifted, this, [this](const QString& address) {
        broadcast([&] { return AdminOperations::banLiftedEvent(address); });
    });
    connect(&operations_, &AdminOperations::dataChanged, this, [this] {
        broadcast([] { return QJsonObject{{QStringLiteral("event"), "dataChanged"}}; });
    });
}

AdminChannel::~AdminChannel() {
    stopRemote();
    for (Client* client : std::as_const(clients_)) {
        client->socket->disconnect(this);
        adminsocket::flush(client->socket); // followers get the last lines (the stop) if they fit
        if (client->remote)
            delete client->socket;
        delete client;
    }
    clients_.clear();
    qDeleteAll(retired_);
    closeListener();
}

void AdminChannel::closeListener() {
    if (!server_)
        return;
    server_->close(); // removes the socket file
    delete server_;
    server_ = nullptr;
    if (!place_.recordPath.isEmpty())
        QFile::remove(place_.recordPath);
}

AdminChannel::OpenResult AdminChannel::open(std::optional<AdminPlace> place) {
    const QString folder = core_.dataFolder();
    place_ = place ? *place : adminPlace(folder);
    if (!place_.privateFolder.isEmpty()) {
        error_ = makePrivateFolder(place_.privateFolder);
        if (!error_.isEmpty())
            return OpenResult::Failed;
    }
    QString reason;
    switch (claim_.claim(place_.lockPath, &reason)) {
    case FolderClaim::Outcome::Taken:
        error_ = QStringLiteral("Un altro server è già in funzione su %1").arg(folder);
        return OpenResult::FolderTaken;
    case FolderClaim::Outcome::Failed:
        error_ = QStringLiteral("Impossibile creare %1: %2").arg(place_.lockPath, reason);
        return OpenResult::Failed;
    case FolderClaim::Outcome::Claimed:
        break;
    }
    if (!rule_) {
        rule_ = adminAccessRule(folder);
        if (!rule_) {
            error_ = QStringLiteral("Cartella dei dati non leggibile: %1").arg(folder);
            return OpenResult::Failed;
        }
    }
    if (!listenAt(place_.socketPath) && !listenInRuntimeFolder())
        return OpenResult::Failed;
    // The peer check decides; the mode only keeps strangers from the door.
    const QByteArray path = QFile::encodeName(place_.socketPath);
    (void)::chown(path.constData(), uid_t(-1), rule_->folderGid);
    ::chmod(path.constData(), 0660);
    if (place_.recordPath.isEmpty()) {
        QFile::remove(folder + QStringLiteral("/kestrova.sock.path"));
    } else {
        QSaveFile record(place_.recordPath);
        if (record.open(QIODevice::WriteOnly)) {
            record.write(path + '\n');
            record.commit();
        }
    }
    // Outside the data folder they must be hidden from clients one by one.
    core_.ownFiles().addFile(place_.socketPath);
    core_.ownFiles().addFile(place_.lockPath);
    connect(server_, &QLocalServer::newConnection, this, &AdminChannel::onNewConnection);
    configureRemote();
    return OpenResult::Listening;
}

bool AdminChannel::listenAt(const QString& socketPath) {
    // The lock is ours: a socket file left there belongs to a server that died.
    QLocalServer::removeServer(socketPath);
    server_ = new QLocalServer(this);
    server_->setMaxPendingConnections(64);
    if (server_->listen(socketPath))
        return true;
    error_ = QStringLiteral("Impossibile aprire il canale di amministrazione %1: %2")
                 .arg(socketPath, server_->errorString());
    delete server_;
    server_ = nullptr;
    return false;
}

bool AdminChannel::listenInRuntimeFolder() {
    if (!place_.recordPath.isEmpty())
        return false; // already there
    // The data folder would not take the socket (a file system without
    // sockets, something in its place): it goes where a long folder's goes,
    // with its record. The claim stays on the folder's lock, where every
    // server of this folder looks for it.
    const QString refused = error_;
    AdminPlace runtime = runtimeAdminPlace(core_.dataFolder(), defaultRuntimeDirs());
    runtime.lockPath = place_.lockPath;
    if (!runtime.privateFolder.isEmpty()) {
        const QString reason = makePrivateFolder(runtime.privateFolder);
        if (!reason.isEmpty()) {
            error_ = refused + QStringLiteral("; ") + reason;
            return false;
        }
    }
    place_ = runtime;
    if (listenAt(place_.socketPath))
        return true;
    error_ = refused + QStringLiteral("; ") + error_;
    return false;
}

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

template <typename Build> void AdminChannel::broadcast(Build build) {
    QList<Client*> followers;
    for (Client* client : std::as_const(clients_)) {
        if (client->following)
            followers.append(client);
    }
    if (followers.isEmpty())
        return;
    const QByteArray line = adminLine(build());
    for (Client* client : std::as_const(followers))
        send(client, line);
}

void AdminChannel::onProgress(const events::TransferEvent& t) {
    // A few a second per session are enough to draw rates; the rest is
    // not worth a line to every follower.
    QElapsedTimer& last = progressSent_[t.session.id];
    if (last.isValid() && last.elapsed() < kProgressEveryMs)
        return;
    last.start();
    broadcast(
        [&] { return operations_.countedTransferEvent(QStringLiteral("transferProgress"), t); });
}

void AdminChannel::updateProgressSubscription() {
    const bool anyFollower = std::any_of(clients_.cbegin(), clients_.cend(),
                                         [](const Client* c) { return c->following; });
    if (anyFollower && !progress_) {
        // Progress costs the engine a timer per transfer: only while watched.
        progress_ = connect(&core_.notifications(), &events::ServerEvents::transferProgress, this,
                            &AdminChannel::onProgress);
    } else if (!anyFollower && progress_) {
        disconnect(progress_);
        progress_ = {};
        progressSent_.clear();
    }
}

} // namespace kv
