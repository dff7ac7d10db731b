#pragma once
// One client's control connection: reads command lines, runs them through
// the command table, keeps the login and current folder, and drives one data
// transfer at a time. Implements the session::ConnectionObject the program sees.

#include "events/ServerEvents.h"
#include "files/FileHasher.h"
#include "files/FileService.h"
#include "ftp/CommandTable.h"
#include "ftp/DataAddress.h"
#include "ftp/DataChannel.h"
#include "ftp/FtpEngine.h"
#include "ftp/LineFramer.h"
#include "ftp/ListingWriter.h"
#include "ftp/PermLetters.h"
#include "ftp/ReplyTexts.h"
#include "ftp/Transfer.h"
#include "session/RateLimiter.h"
#include "session/TransferNews.h"
#include "session/UploadQuota.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;

namespace kv::ftp {

class DataChannel;
class StreamSocket;
class TlsContext;
class TlsSocket;
struct EngineSettings;

class ControlSession : public QObject, public session::StoredConnection, private CommandTarget {
    Q_OBJECT
public:
    // Takes ownership of the connected socket. `events` may be null (then
    // every login is refused). `tls` (null: TLS off) is the server's context;
    // with `implicitTls` the handshake comes before the greeting.
    ControlSession(QTcpSocket* socket, std::shared_ptr<const EngineSettings> settings,
                   std::shared_ptr<const TlsContext> tls, bool implicitTls,
                   session::EngineEvents* events, QObject* parent);
    ~ControlSession() override;

    // Sends the greeting and starts reading commands.
    void start();
    // Sends `reply` (may be empty) and closes the connection.
    void closeWith(const QString& reply);
    // Sends `reply` and closes once the command being run (a transfer
    // included) has its final answer; at once when nothing is running.
    void closeAfterReply(const QString& reply);
    // Reports the end now instead of from the event loop (the server's stop
    // reports every connection before it returns).
    void reportClosed() { finishClose(); }
    QHostAddress peerAddress() const { return peer_; }
    // The router's public address for PASV replies to clients from outside.
    // Unlike the other settings it follows the server at once: when the
    // looked-up address changes, the old one no longer reaches this machine.
    void setPublicAddress(const QHostAddress& address) { publicAddress_ = address; }

    // session::ConnectionObject (the values are kept by session::StoredConnection)
    void Disconnect() override;
    session::TransferActivity Activity() const override;
    QDateTime ConnectedAt() const override { return connectedAt_; }
    QString CurrentFolder() const override { return files_.currentFolder(); }

Q_SIGNALS:
    // Emitted once, when the connection has ended for whatever reason.
    void closed(kv::ftp::ControlSession* session);

private:
    friend struct CommandRows; // the command table names the handlers below

    // CommandTarget (SessionDispatch.cpp)
    bool isLoggedIn() const override { return loggedIn_; }
    bool offersTls() const override { return tls_ != nullptr; }
    void rejectCommand(const ParsedCommand& cmd, ParseError error, const CommandInfo* info,
                       bool loginMissing) override;
    void runCommand(const CommandInfo& info, const QString& argument) override;
    void handleLine(const QByteArray& line);

    // Input and the session's life (ControlSession.cpp)
    void attachSocket(StreamSocket* socket);
    void processInput();
    bool holdWhileBusy(const QByteArray& line) const;
    void onIdleTimeout();
    void restartIdleTimer();
    void finishClose();
    void onControlReadable();

    // Output (SessionReplies.cpp)
    // Queued in heldReplies_ while command lines are being read, else
    // written at once.
    void send(QByteArray bytes);
    void transmit(QByteArray bytes); // to the socket, held or not
    void releaseReplies();
    void flushReplies(); // what is held leaves now; later replies are held still
    void reply(const QString& text);
    void reply(Reply id, const QStringList& args = {});
    // Runs `answer` (which replies) no sooner than `delayUs` microseconds
    // after its command arrived; the commands after it wait for it.
    void answerNotBefore(qint64 delayUs, std::function<void()> answer);
    void onPassiveClientConnected();
    void log(const QString& line);
    void debug(const QString& line);

    // Events (SessionEvents.cpp): who this session is, for every event it raises.
    events::SessionInfo sessionInfo() const;
    events::ServerEvents* notifications() const;

    // Login (SessionLogin.cpp)
    void cmdUser(const QString& arg);
    void cmdPass(const QString& arg);
    // A named account while TLS is required and the connection is clear.
    bool needsTlsFirst(const QString& user) const;
    void resetLogin();
    // The decision on the password given, asked of the program on its turn.
    void decideLogin();
    void finishLogin(const session::LoginDecision& decision);
    void refuseUnavailable(const QString& reason);
    // The 530 of a refused PASS, and the close after too many of them.
    void refuseLogin();
    void onLoginDelayOver();

    // TLS on the control connection and protection levels (SessionTls.cpp)
    void cmdAuth(const QString& arg);
    void cmdPbsz(const QString& arg);
    void cmdProt(const QString& arg);
    void cmdCcc(const QString& arg);
    void startTls();
    StreamSocket* makeTlsSocket(QTcpSocket* tcp);
    void onTlsEstablished();
    void onSilentAfterTls();
    TlsSocket* controlTls() const;
    // How the next data connection is protected; none under PROT C.
    std::optional<DataProtection> dataProtection() const;
    // A transfer of a named account that would run in clear while TLS is
    // required; the 522 is sent here.
    bool refusedClearData();

    // Informational and setting commands (SessionInfoCommands.cpp)
    void cmdNotNeeded(const QString& arg);
    void cmdType(const QString& arg);
    void cmdMode(const QString& arg);
    void cmdStru(const QString& arg);
    void cmdSyst(const QString& arg);
    void cmdStat(const QString& arg);
    void cmdHelp(const QString& arg);
    void cmdNoop(const QString& arg);
    void cmdQuit(const QString& arg);
    void cmdFeat(const QString& arg);
    void cmdOpts(const QString& arg);
    void cmdClnt(const QString& arg);

    // Commands of clients that manage files from afar (SessionSiteCommands.cpp)
    void cmdSite(const QString& arg);
    void siteChmod(const QString& arg);
    void siteHelp(const QString& arg);
    void cmdAllo(const QString& arg);
    void cmdAvbl(const QString& arg);

    // Checksums (SessionChecksums.cpp): computed by the server's hash
    // workers while the session answers only the commands a transfer lets
    // through; the rest wait as they would behind a transfer.
    enum class HashReply { Range, Bare }; // "213 ALGO 0-N hex path" or "250 HEX"
    void cmdHash(const QString& arg);
    void cmdXsha256(const QString& arg);
    void cmdXsha1(const QString& arg);
    void cmdXmd5(const QString& arg);
    void cmdXcrc(const QString& arg);
    void startHash(files::HashAlgorithm algorithm, HashReply style, const QString& arg);
    void onHashDone();
    // ABOR while a checksum runs: it stops, and its command answers 426.
    bool abortHash();
    bool hashing() const { return hashing_ != nullptr; }

    // Files and folders (SessionFileCommands.cpp)
    // The reply to a refusal every file command answers alike: a path too
    // long, out of reach or not allowed, or an object that is not there.
    void replyRefused(files::FileError error, const QString& arg);
    // The login's file service, from its grant, starting at "/".
    void startFileService();
    // A change on disk told to the event subscribers as this session's.
    void notifyFileChange(events::FileEvent change);
    void cmdCwd(const QString& arg);
    void cmdCdup(const QString& arg);
    void cmdPwd(const QString& arg);
    void cmdMkd(const QString& arg);
    void cmdRmd(const QString& arg);
    void cmdDele(const QString& arg);
    void cmdRnfr(const QString& arg);
    void cmdRnto(const QString& arg);
    void cmdSize(const QString& arg);
    void cmdMdtm(const QString& arg);
    void cmdMfmt(const QString& arg);

    // Data connection set-up (SessionDataSetup.cpp)
    void cmdPasv(const QString& arg);
    void cmdEpsv(const QString& arg);
    void listenPassive(bool extended);
    void cmdPort(const QString& arg);
    void cmdEprt(const QString& arg);
    void connectActive(const DataAddress& target, const QString& verb);
    DataChannel& dataChannel();

    // Listings (SessionListings.cpp)
    enum class ListFormat { Long, Names, Machine };
    void cmdList(const QString& arg);
    void cmdNlst(const QString& arg);
    void cmdMlsd(const QString& arg);
    void listing(ListFormat format, const QString& arg);
    void cmdMlst(const QString& arg);
    QByteArrayView permFacts(const files::FsEntry& entry) const;

    // File transfers (SessionFileTransfers.cpp)
    enum class StoreMode { Replace, Append, Unique };
    void cmdRetr(const QString& arg);
    void cmdStor(const QString& arg);
    void cmdAppe(const QString& arg);
    void cmdStou(const QString& arg);
    void store(StoreMode mode, const QString& arg);
    void cmdRest(const QString& arg);

    // The transfer life cycle (SessionTransfers.cpp)
    // A transfer accepted by its command and waiting for / using the data
    // connection.
    struct PendingTransfer {
        enum class Kind { Listing, Download, Upload };
        Kind kind = Kind::Listing;
        QByteArray listing;
        // A folder's listing, produced a piece at a time while the client
        // reads; an empty piece ends it.
        std::function<QByteArray()> moreListing;
        std::unique_ptr<QFile> file;
        qint64 offset = 0;
        qint64 size = -1; // of a download's file, when its command opened it; -1: unknown
        bool ascii = false;
        QString path;     // client-visible path, for the log and the events
        QString diskPath; // the file's, for the events
        QString opening;  // the 150 line
        std::unique_ptr<session::UploadQuota> quota; // an upload's, with a quota on the account
    };
    void beginTransfer(std::unique_ptr<PendingTransfer> pending);
    void onDataReady(StreamSocket* socket);
    void onDataFailed(const QString& reason, Reply answer);
    void onTransferFinished(const TransferResult& result);
    void logTransfer(const PendingTransfer& p, qint64 bytes, const QString& outcome);
    // The running transfer's event (SessionEvents.cpp); finished/aborted ones
    // carry what was moved in all.
    // The running transfer as the bus is told of it (pending_ set).
    events::TransferEvent transferEvent(events::TransferOutcome outcome, qint64 bytes,
                                        const QString& reason = {}, qint64 fileSize = -1) const;
    // Tells the bus the running transfer ended.
    void tellTransferFinished(events::TransferOutcome outcome, qint64 bytes,
                              const QString& reason = {}, qint64 fileSize = -1);
    void endTransfer();
    void dropRetiredTransfers();
    // The speed limits of this login's uploads or downloads; null: none.
    session::RateFlow* rateFlow(bool upload);
    void cmdAbor(const QString& arg);

    // The server's settings when this connection arrived; a reread of the
    // options does not change them.
    std::shared_ptr<const EngineSettings> ownSettings_;
    const EngineSettings& settings_;
    session::EngineEvents* events_;
    std::shared_ptr<const TlsContext> tls_;
    bool implicitTls_;
    StreamSocket* socket_;
    QHostAddress peer_;
    QHostAddress publicAddress_;
    QTimer idleTimer_;
    QElapsedTimer lastActivity_; // the idle time-out counts from here
    QTimer loginDelay_;          // a refused PASS waits for its answer while bans are on
    // Transfer progress for the event subscribers; made at the first
    // transfer somebody watches, so an idle session keeps no timer.
    std::unique_ptr<session::TransferNews> news_; // of the transfer running now
    // This login's flows through the speed limits (up, down), made at its
    // first transfer; a transfer lets go of its flow when it ends.
    std::unique_ptr<session::RateFlow> rates_[2];
    QString closeAfterReply_;
    bool endingAfterReply_ = false; // the final answer went out; the close is queued

    LineFramer input_;
    bool closed_ = false;
    bool closeSignalled_ = false;
    bool readingInput_ = false;    // processInput() is on the stack
    bool protectData_ = false;     // PROT P: data connections use TLS
    bool pbszDone_ = false;        // PBSZ answered: PROT may follow
    bool silentSinceTls_ = false;  // no command since AUTH's handshake (onSilentAfterTls)
    bool holdReplies_ = false;     // replies wait in heldReplies_ (see releaseReplies)
    bool replyPaced_ = false;      // an answer waits for its moment (answerNotBefore)
    qint64 commandArrived_ = 0;    // ReplyPacer::now() when the running command was read
    qint64 passiveAnsweredAt_ = 0; // ReplyPacer::now() when a passive answer left; 0: none
    QByteArray heldReplies_;

    bool userGiven_ = false;
    bool loggedIn_ = false;
    bool awaitingVerdict_ = false; // a PASS waits for its turn in the login queue
    int failedLogins_ = 0;
    // The file operations of the login; refuses everything before it.
    files::FileService files_{nullptr, false};
    const QDateTime connectedAt_ = QDateTime::currentDateTimeUtc();
    files::HashAlgorithm hashAlgorithm_ = files::HashAlgorithm::Sha256; // OPTS HASH
    MlstFacts mlstFacts_ = MlstFacts::all();                            // OPTS MLST
    PermTable permTable_; // the perm fact's letters for this login's rights
    // The checksum being computed, and what its reply needs.
    struct RunningHash {
        // A client gone before its answer frees the worker at once.
        ~RunningHash() { watcher.future().cancel(); }
        QFutureWatcher<files::HashResult> watcher;
        files::HashAlgorithm algorithm;
        HashReply style;
        QString name; // as the client gave it
    };
    std::unique_ptr<RunningHash> hashing_;
    std::unique_ptr<RunningHash> hashDone_; // kept until the next one: its signal is on the stack
    bool asciiType_ = true;
    qint64 restOffset_ = 0;
    std::optional<files::RenameSource> renameFrom_;
    const CommandInfo* running_ = nullptr; // the command being run

    DataChannel* data_ = nullptr;
    std::unique_ptr<PendingTransfer> pending_;
    Transfer* transfer_ = nullptr;
    // Finished transfers wait here until no signal of theirs is being
    // delivered, then go without a deferred deletion.
    std::vector<std::unique_ptr<Transfer>> retired_;
    int transferCallbacks_ = 0; // onTransferFinished() calls on the stack
    // File bytes of the transfers that have ended, for Activity().
    qint64 sentTotal_ = 0;
    qint64 receivedTotal_ = 0;
};

} // namespace kv::ftp
