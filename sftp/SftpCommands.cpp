#include "sftp/SftpCommands.h"

#include <libssh/server.h>

#include <algorithm>

namespace kv::sftp {

namespace {

// The most one write hands to libssh; the rest waits for the next turn.
constexpr qsizetype kWriteChunk = 32 * 1024;

// Writes the front of `bytes` as far as the window allows and drops what
// went; false on a failed channel.
bool writeSome(ssh_channel channel, QByteArray& bytes, bool toErrors) {
    while (!bytes.isEmpty()) {
        const qsizetype n = std::min(bytes.size(), kWriteChunk);
        const int written = toErrors ? ssh_channel_write_stderr(channel, bytes.constData(), n)
                                     : ssh_channel_write(channel, bytes.constData(), n);
        if (written < 0)
            return false;
        bytes.remove(0, written);
        if (written < n)
            break; // the window is full
    }
    return true;
}

} // namespace

SftpCommands::SftpCommands(const files::FileService& files, files::HashWorkers* workers,
                           Hooks hooks, QObject* parent)
    : QObject(parent), files_(files), workers_(workers), hooks_(std::move(hooks)) {}

SftpCommands::~SftpCommands() = default;

SftpCommands::Command* SftpCommands::find(ssh_channel channel) const {
    for (const auto& c : commands_) {
        if (c->channel == channel)
            return c.get();
    }
    return nullptr;
}

bool SftpCommands::owns(ssh_channel channel) const {
    return find(channel) != nullptr;
}

bool SftpCommands::exec(ssh_channel channel, QByteArrayView line) {
    const QString shown = QString::fromUtf8(line);
    std::optional<ChecksumCommand> command = parseChecksumCommand(line);
    if (!command || !workers_ || find(channel)) {
        hooks_.log(QStringLiteral("SFTP: richiesta rifiutata (exec %1)").arg(shown));
        return false;
    }
    hooks_.log(QStringLiteral("SFTP: comando %1").arg(shown));
    auto c = std::make_unique<Command>();
    c->channel = channel;
    c->run = std::make_unique<ChecksumRun>(std::move(*command), files_, *workers_);
    connect(c->run.get(), &ChecksumRun::progressed, this, [this] {
        if (hooks_.progressed)
            hooks_.progressed();
    });
    // libssh answers the request once this callback returns; the output follows.
    QMetaObject::invokeMethod(c->run.get(), &ChecksumRun::start, Qt::QueuedConnection);
    commands_.push_back(std::move(c));
    return true;
}

void SftpCommands::takeInput(ssh_channel channel, QByteArrayView data) {
    if (Command* c = find(channel))
        c->run->takeInput(data);
}

void SftpCommands::endInput(ssh_channel channel) {
    if (Command* c = find(channel))
        c->run->endInput();
}

bool SftpCommands::write(Command& c) {
    c.output += c.run->takeOutput();
    c.errors += c.run->takeErrors();
    return writeSome(c.channel, c.output, false) && writeSome(c.channel, c.errors, true);
}

QList<ssh_channel> SftpCommands::flush() {
    QList<ssh_channel> ended;
    for (auto it = commands_.begin(); it != commands_.end();) {
        Command& c = **it;
        const bool written = write(c);
        const bool done = c.run->isFinished() && c.output.isEmpty() && c.errors.isEmpty();
        if (written && !done) {
            ++it;
            continue;
        }
        if (written) {
            // As a shell's command ends: its status, then the end of its output.
            ssh_channel_request_send_exit_status(c.channel, c.run->exitStatus());
            ssh_channel_send_eof(c.channel);
        }
        ssh_channel_close(c.channel);
        ended.append(c.channel);
        it = commands_.erase(it);
    }
    return ended;
}

bool SftpCommands::waiting() const {
    return std::any_of(commands_.begin(), commands_.end(),
                       [](const auto& c) { return !c->output.isEmpty() || !c->errors.isEmpty(); });
}

void SftpCommands::forget(ssh_channel channel) {
    std::erase_if(commands_, [channel](const auto& c) { return c->channel == channel; });
}

void SftpCommands::dropAll() {
    commands_.clear();
}

} // namespace kv::sftp
