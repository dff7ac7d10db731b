#pragma once
// One SSH connection serving the sftp subsystem, driven by the event loop:
// libssh runs non-blocking and is stepped whenever the socket can be read
// or, while output waits, written. The login is decided by the program
// exactly as an FTP login (EngineEvents::LoginRequest), or, for a public key,
// by KeyLogins with the same rules; failures count towards bans, and file requests are answered by
// SftpRequests over the file layer. "session" channels are served, each with the "sftp"
// subsystem (one per connection) or a checksum command (SftpCommands); nothing else.

#include "events/ServerEvents.h"
#include "session/LoginBans.h"
#include "session/LoginDecision.h"
#include "session/TransferNews.h"
#include "sftp/KeyLogins.h"
#include "sftp/SftpCommands.h"
#include "sftp/SftpPacket.h"
#include "sftp/SftpRequests.h"

#include <QDateTime>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/server.h>

#include <memory>
#include <unordered_map>

namespace kv::sftp {

// What every session of one listener shares.
struct SftpContext {
    session::EngineEvents* events = nullptr;
    events::ServerEvents* bus = nullptr;
    session::LoginBans* bans = nullptr;
    KeyLogins* keys = nullptr; // null: no login by key
    bool passwordAuth = true;
    bool followLinks = false;
    // Where logins open their folders, shared with other sessions; null:
    // each opens its own.
    files::AreaRegistry* areas = nullptr;
    // The program's own files, never served; null: none.
    const files::OwnFiles* ownFiles = nullptr;
    // Computes the checksum commands' hashes; null: none are served.
    files::HashWorkers* hashWorkers = nullptr;
    int timeoutSeconds = 180; // idle time before the connection closes; 0: never
    QString serverRoot;
};

class SftpSession : public QObject, public session::StoredConnection {
    Q_OBJECT
public:
    // Takes over `session`, already accepted on the socket `fd`.
    SftpSession(ssh_session session, const QString& host,
                std::shared_ptr<const SftpContext> context, QObject* parent = nullptr);
    ~SftpSession() override;

    void start();
    void Disconnect() override;
    session::TransferActivity Activity() const override;
    QDateTime ConnectedAt() const override { return connectedAt_; }
    // Ends the connection (once); the closing is reported from the event loop.
    void closeWith(const QString& reason);
    // closeWith from the event loop, for callers inside a libssh callback.
    void closeSoon(const QString& reason);
    // Tells the server and the bus the session ended (once); normally called
    // from the event loop after closeWith.
    void reportClosed();

Q_SIGNALS:
    void closed(kv::sftp::SftpSession* session);

private:
    // The window the client may fill before it waits for the server.
    static constexpr quint32 kChannelWindow = 8 * 1024 * 1024;

    static int onAuthPassword(ssh_session, const char* user, const char* password, void* self);
    static int onAuthNone(ssh_session, const char* user, void* self);
    static int onAuthPubkey(ssh_session, const char* user, ssh_key_struct*, char, void* self);
    static int onServiceRequest(ssh_session, const char* service, void* self);
    static ssh_channel onChannelOpen(ssh_session, void* self);
    static int onChannelData(ssh_session, ssh_channel, void* data, uint32_t len, int stderr_,
                             void* self);
    static void onChannelEof(ssh_session, ssh_channel, void* self);
    static void onChannelClose(ssh_session, ssh_channel, void* self);
    static int onSubsystem(ssh_session, ssh_channel, const char* name, void* self);
    static int onRefusedRequest(ssh_session, ssh_channel, void* self);
    static int onExec(ssh_session, ssh_channel, const char* command, void* self);
    static int onPty(ssh_session, ssh_channel, const char*, int, int, int, int, void* self);
    static int onWindowGrown(ssh_session, ssh_channel, uint32_t, void* self);

    // `keyFingerprint` set: the client proved it holds that key.
    int decideLogin(const QString& user, const QString& password,
                    const QString& keyFingerprint = {});
    int answerKeyProbe(const QString& user, const QString& fingerprint);
    void countFailedLogin(const QString& user, const QString& reason, bool counted = true);
    // A key refused at the probe counts once, when the client gives up.
    void countRefusedKeyProbe();
    void step();
    // The client ended the sftp channel: the file work ends, and the channel
    // with exit status 0, as a subsystem that finished.
    void endChannel();
    // Sends the sftp channel's exit status, end and close, while it is open.
    void finishSftpChannel(int exitStatus);
    // Answers the commands and lets go of the channels that ended.
    void tendChannels();
    void serveRequests();
    void flushOutput();
    void updateNotifiers();
    void queueTurn();
    void widenWindow();
    void reportFinished();
    void log(const QString& line);
    events::SessionInfo sessionInfo() const;

    ssh_session ssh_;
    ssh_event event_ = nullptr;
    ssh_channel channel_ = nullptr;     // the sftp subsystem's
    QList<ssh_channel> channels_;       // every channel open, the sftp one included
    QList<ssh_channel> closedByClient_; // to let go of from the event loop
    std::shared_ptr<const SftpContext> context_;
    ssh_server_callbacks_struct serverCallbacks_{};
    ssh_channel_callbacks_struct channelCallbacks_{};
    QSocketNotifier* readable_ = nullptr;
    QSocketNotifier* writable_ = nullptr;
    QTimer idleTimer_;
    ssh_counter_struct socketCounter_{}; // bytes libssh read from and wrote to the socket
    bool keysExchanged_ = false;
    bool loggedIn_ = false;
    bool sftpOpened_ = false;  // the subsystem was asked for: only once per connection
    bool sftpStarted_ = false; // and serves requests now
    bool closed_ = false;
    bool closeReported_ = false;
    bool turnQueued_ = false;
    bool serving_ = false;
    QList<events::TransferEvent> finishedLater_; // reported once the replies are sent
    // The bus's news of each transfer running, by its note.
    std::unordered_map<const TransferNote*, std::unique_ptr<session::TransferNews>> news_;
    int failedLogins_ = 0;
    QString refusedKeyUser_; // set while a refused key probe has not been counted
    quint64 windowUsed_ = 0; // bytes the client sent since the window was last widened
    PacketFramer framer_;
    QByteArray output_;
    qsizetype outputSent_ = 0;
    std::unique_ptr<SftpRequests> requests_;
    std::unique_ptr<SftpCommands> commands_; // uses requests_'s file layer
    const QDateTime connectedAt_ = QDateTime::currentDateTimeUtc();
};

} // namespace kv::sftp
