#pragma once
// The exec channels of one SSH connection. A checksum command (see
// ChecksumCommand) is run for the logged-in account and answered on its
// channel as the tool answers: what it prints, its messages on the error
// stream, its exit status, then the channel's end. Any other command is
// refused, and nothing is ever executed. libssh's callbacks only hand over
// requests and input; channels are written to and ended from the event loop.

#include "files/FileHasher.h"
#include "files/FileService.h"
#include "sftp/ChecksumRun.h"

#include <QObject>

#include <libssh/libssh.h>

#include <functional>
#include <memory>
#include <vector>

namespace kv::sftp {

class SftpCommands : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void(const QString&)> log;
        // Something waits to be written: the session should take a turn.
        std::function<void()> progressed;
    };

    // `files` and `workers` outlive this; without workers no command is served.
    SftpCommands(const files::FileService& files, files::HashWorkers* workers, Hooks hooks,
                 QObject* parent = nullptr);
    ~SftpCommands() override;

    // An exec request on `channel` (from libssh's callback): whether it is
    // served. A served command starts once the callback has returned.
    bool exec(ssh_channel channel, QByteArrayView line);
    bool owns(ssh_channel channel) const;
    void takeInput(ssh_channel channel, QByteArrayView data);
    void endInput(ssh_channel channel);

    // Writes what the client's windows take and ends the commands that are
    // done (exit status, end of output, close). Returns their channels,
    // which are not used here any more.
    QList<ssh_channel> flush();
    // Whether output waits for a client's window.
    bool waiting() const;
    // The client closed `channel`: its command stops without an answer.
    void forget(ssh_channel channel);
    // The connection is gone: every command stops, no channel is touched.
    void dropAll();

private:
    struct Command {
        ssh_channel channel = nullptr;
        std::unique_ptr<ChecksumRun> run;
        QByteArray output;
        QByteArray errors;
    };
    Command* find(ssh_channel channel) const;
    // False when the channel failed: the command ends without its status.
    bool write(Command& c);

    const files::FileService& files_;
    files::HashWorkers* workers_;
    Hooks hooks_;
    std::vector<std::unique_ptr<Command>> commands_;
};

} // namespace kv::sftp
