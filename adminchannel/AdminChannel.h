#pragma once
// The administration channel of a running server: a local socket tied to the
// data folder, serving AdminOperations to peers the kernel vouches for (root,
// the server's user, members of the data folder's group), plus a
// subscription to log lines and session, transfer and ban events.
//
// It shares the engine's event loop and never waits: input is read as it
// comes with a cap per line, at most kMaxClients connections are served
// (the rest get one error line), an idle client is dropped, and a subscriber
// that does not read is dropped once kMaxPendingBytes wait for it. The window
// and headless mode each create one over their ProgramCore.
//
// Remote administration (admin_port) adds a TLS listener whose clients log
// in with the administration password first and are then served as the
// local ones, with AdminRequest::remote set; they are counted apart, so a
// crowd of them never keeps the local administrator out.

#include "adminchannel/AdminOperations.h"
#include "adminchannel/AdminPeer.h"
#include "adminchannel/AdminPlace.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <memory>

class QIODevice;
class QLocalServer;
class QSslSocket;

namespace kv {

class ProgramCore;
class RemoteListener;

class AdminChannel : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 16;
    // Remote clients at once, logged in or not, counted apart from the local ones.
    static constexpr int kMaxRemoteClients = 16;
    static constexpr qint64 kMaxPendingBytes = 1024 * 1024;
    static constexpr int kIdleMs = 60 * 1000;
    // Requests answered per turn of the event loop for one client: a burst
    // of requests waits its turns with the FTP sessions.
    static constexpr int kRequestsPerTurn = 16;
    // The least time between two progress lines of one session.
    static constexpr int kProgressEveryMs = 500;

    AdminChannel(ProgramCore& core, AdminOperations::ReloadFn reload = {},
                 QObject* parent = nullptr);
    ~AdminChannel() override;

    enum class OpenResult { Listening, FolderTaken, Failed };
    // Claims the data folder and listens at `place` (adminPlace() of the
    // core's folder when omitted), or in a runtime folder when the data
    // folder refuses the socket. FolderTaken: another server serves it.
    // Failed: the reason in error().
    OpenResult open(std::optional<AdminPlace> place = std::nullopt);
    QString error() const { return error_; }
    QString socketPath() const { return place_.socketPath; }
    int clientCount() const { return int(clients_.size()); }

    // Starts, restarts or stops the remote listener as admin_port,
    // admin_address, admin_allowed and the stored password now say; logs
    // where it listens and the fingerprint, or why it does not. Called at
    // open() and whenever the server starts or rereads its settings.
    void configureRemote();
    // The port remote administration listens on; 0 when it does not.
    quint16 remotePort() const;
    // The administration certificate's fingerprint; empty before it exists.
    QString remoteFingerprint() const;

    // How long a client that is not following may stay without a request.
    void setIdleTimeout(int ms) { idleMs_ = ms; }
    // Who may connect; by default the rule for this user and the data folder.
    void setAccessRule(const AdminAccessRule& rule) { rule_ = rule; }

private:
    struct Client;
    struct RemoteSetup {
        QHostAddress address;
        quint16 port = 0;
        QString allowed;
        QString passwordHash;
        bool operator==(const RemoteSetup&) const = default;
    };
    void onNewConnection();
    // `remoteAddress`: empty for a local client.
    void addClient(QIODevice* socket, const QString& remoteAddress = {});
    int countClients(bool remote) const;
    void stopRemote();
    RemoteSetup readRemoteSetup(QString& error) const;
    void onRemoteReady(QSslSocket* socket);
    // A remote client's first line: the login, or the end.
    void handleLogin(Client* client, const AdminRequest& request);
    void dropAddress(const QString& address);
    void onReadyRead(Client* client);
    void handle(Client* client, const QByteArray& line);
    void send(Client* client, const QByteArray& line);
    void refuse(QIODevice* socket, const QByteArray& line);
    // Ends a client: gracefully (its last line sent) or at once.
    void drop(Client* client, bool graceful);
    // Sends the server's events (log lines, sessions, transfers, bans, data
    // changes) to the clients that follow them.
    void followServerEvents();
    // The event is built only when someone follows: most of the time no one does.
    template <typename Build> void broadcast(Build build);
    void updateProgressSubscription();
    void onProgress(const events::TransferEvent& transfer);
    void closeListener();
    // Listens at `socketPath`; the reason in error_ when it cannot.
    bool listenAt(const QString& socketPath);
    // When the data folder refused the socket: listens in a runtime folder.
    bool listenInRuntimeFolder();

    ProgramCore& core_;
    AdminOperations operations_;
    FolderClaim claim_;
    AdminPlace place_;
    QLocalServer* server_ = nullptr;
    std::optional<AdminAccessRule> rule_;
    QList<Client*> clients_;
    QList<Client*> retired_; // dropped, deleted on the next turn
    QString error_;
    QMetaObject::Connection progress_;
    QHash<quint64, QElapsedTimer> progressSent_; // by session id
    int idleMs_ = kIdleMs;
    std::unique_ptr<RemoteListener> remote_;
    RemoteSetup remoteSetup_;
    QString fingerprint_;
};

} // namespace kv
