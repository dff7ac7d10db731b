// The administration socket: claiming the data folder, listening there (or
// in a runtime folder) and closing. Clients are served in AdminClients.cpp,
// events sent to followers in AdminBroadcast.cpp, remote ones in AdminRemote.cpp.
#include "adminchannel/AdminChannel.h"

#include "adminchannel/AdminChannelClient.h"
#include "adminchannel/RemoteListener.h"
#include "core/ProgramCore.h"

#include <QFile>
#include <QLocalServer>
#include <QSaveFile>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

AdminChannel::AdminChannel(ProgramCore& core, AdminOperations::ReloadFn reload, QObject* parent)
    : QObject(parent), core_(core), operations_(core, std::move(reload)) {
    followServerEvents();
    auto& bus = core_.notifications();
    connect(&bus, &events::ServerEvents::settingsApplied, this, [this] {
        if (server_)
            configureRemote(); // remote administration as the options now say
    });
    connect(&core_.loginBans(), &session::LoginBans::banStarted, this,
            [this](const QString& address) { dropAddress(address); });
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

} // namespace kv
