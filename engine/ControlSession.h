#pragma once
// One client's control connection: reads command lines, runs them through
// the command table, keeps the login and current folder, and drives one data
// transfer at a time. Implements the ConnectionObject the program sees.

#include "engine/CommandTable.h"
#include "engine/FtpEngine.h"
#include "engine/ReplyTexts.h"
#include "engine/Transfer.h"
#include "engine/VirtualFileSystem.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;

namespace kv::engine {

class DataChannel;
struct EngineSettings;

class ControlSession : public QObject, public ConnectionObject, private CommandTarget {
    Q_OBJECT
public:
    // Takes ownership of the connected socket. `events` may be null (then
    // every login is refused).
    ControlSession(QTcpSocket* socket, const EngineSettings& settings, EngineEvents* events,
                   QObject* parent);
    ~ControlSession() override;

    // Sends the greeting and starts reading commands.
    void start();
    // Sends `reply` (may be empty) and closes the connection.
    void closeWith(const QString& reply);
    bool isClosed() const { return closed_; }
    QHostAddress peerAddress() const { return peer_; }

    // ConnectionObject
    QString UserName() const override { return userName_; }
    QString Password() const override { return password_; }
    QString RemoteHost() const override { return remoteHost_; }
    QString RootDir() const override { return rootDir_; }
    void setRootDir(const QString& dir) override { rootDir_ = dir; }
    QVariant Tag() const override { return tag_; }
    void setTag(const QVariant& tag) override { tag_ = tag; }
    VirtualDirCollection& VirtualDirs() override { return virtualDirs_; }
    void Disconnect() override;

Q_SIGNALS:
    // Emitted once, when the connection has ended for whatever reason.
    void closed(kv::engine::ControlSession* session);

private:
    // CommandTarget
    bool isLoggedIn() const override { return loggedIn_; }
    void rejectCommand(const ParsedCommand& cmd, ParseError error, const CommandInfo* info,
                       bool loginMissing) override;
    void runCommand(const CommandInfo& info, const QString& argument) override;

    // Input
    void processInput();
    bool holdWhileBusy(const QByteArray& line) const;
    void handleLine(const QByteArray& line);
    void onIdleTimeout();
    void restartIdleTimer();
    void finishClose();
    void onControlReadable();

    // Output
    void send(QByteArray bytes);
    void reply(const QString& text);
    void reply(Reply id, const QStringList& args = {});
    void log(const QString& line);
    void debug(const QString& line);

    // Login and simple commands (ControlSession.cpp)
    void cmdUser(const QString& arg);
    void cmdPass(const QString& arg);
    void cmdType(const QString& arg);
    void cmdStat(const QString& arg);
    void cmdHelp();
    void cmdFeat();
    void cmdOpts(const QString& arg);
    void cmdSite(const QString& arg);

    // Files and folders (SessionFileCommands.cpp)
    std::optional<ResolvedPath> resolveExisting(const QString& arg);
    std::optional<ResolvedPath> resolveNew(const QString& arg);
    bool refuse(Verdict verdict);
    // Asks the operator's check for one operation and sends the refusal when
    // it says no; without a handler every checked operation is refused.
    template <typename... Path>
    bool refusedBy(Verdict (EngineEvents::*check)(ConnectionObject&, const Path&...),
                   const Path&... paths) {
        return refuse(events_ ? (events_->*check)(*this, paths...) : Verdict::Deny);
    }
    void cmdCwd(const QString& arg);
    void cmdPwd();
    void cmdMkd(const QString& arg);
    void cmdRmd(const QString& arg);
    void cmdDele(const QString& arg);
    void cmdRnfr(const QString& arg);
    void cmdRnto(const QString& arg);
    void cmdSize(const QString& arg);
    void cmdMdtm(const QString& arg);
    void cmdMfmt(const QString& arg);
    void cmdMlst(const QString& arg);

    // Data connection and transfers (SessionTransfers.cpp)
    void cmdPasv(bool extended, const QString& arg);
    void cmdPort(bool extended, const QString& arg);
    void cmdRest(const QString& arg);
    void cmdList(CommandId kind, const QString& arg);
    void cmdRetr(const QString& arg);
    void cmdStore(CommandId kind, const QString& arg);
    void cmdAbor();
    // A transfer accepted by its command and waiting for / using the data
    // connection.
    struct PendingTransfer {
        enum class Kind { Listing, Download, Upload };
        Kind kind = Kind::Listing;
        QByteArray listing;
        std::unique_ptr<QFile> file;
        qint64 offset = 0;
        bool ascii = false;
        QString path;    // client-visible path, for the log and the notices
        QString opening; // the 150 line
    };
    void beginTransfer(std::unique_ptr<PendingTransfer> pending);
    void onDataReady(QTcpSocket* socket);
    void onDataFailed(const QString& reason);
    void onTransferFinished(const TransferResult& result);
    void endTransfer();
    void dropRetiredTransfers();
    DataChannel& dataChannel();
    QString permFacts(const FsEntry& entry) const;

    const EngineSettings& settings_;
    EngineEvents* events_;
    QTcpSocket* socket_;
    QHostAddress peer_;
    QString remoteHost_;
    QTimer idleTimer_;

    QByteArray input_;
    bool discarding_ = false; // skipping the rest of an over-long line
    bool closed_ = false;
    bool closeSignalled_ = false;
    bool readingInput_ = false; // processInput() is on the stack
    bool plainSocket_ = false;  // a plain TCP socket: replies may go straight to its descriptor

    QString userName_;
    QString password_;
    QString rootDir_;
    QVariant tag_;
    VirtualDirCollection virtualDirs_;
    bool userGiven_ = false;
    bool loggedIn_ = false;
    int failedLogins_ = 0;
    VirtualFileSystem vfs_;
    QString cwd_ = QStringLiteral("/");
    bool asciiType_ = true;
    qint64 restOffset_ = 0;
    std::optional<ResolvedPath> renameFrom_;

    DataChannel* data_ = nullptr;
    std::unique_ptr<PendingTransfer> pending_;
    Transfer* transfer_ = nullptr;
    // Finished transfers wait here until no signal of theirs is being
    // delivered, then go without a deferred deletion.
    std::vector<std::unique_ptr<Transfer>> retired_;
    int transferCallbacks_ = 0; // onTransferFinished() calls on the stack
};

} // namespace kv::engine
