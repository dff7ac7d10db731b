#include "sftp/ChecksumRun.h"

#include "sftp/SftpRequests.h"

#include <QBuffer>

namespace kv::sftp {

namespace {

// The system's words for a file that cannot be hashed, as the tools print them.
QByteArray reasonOf(const files::OpenedFile& opened) {
    switch (opened.error) {
    case files::FileError::NotFound:
        return "No such file or directory";
    case files::FileError::IsADirectory:
        return "Is a directory";
    case files::FileError::NotADirectory:
        return "Not a directory";
    case files::FileError::TooLong:
        return "File name too long";
    case files::FileError::Forbidden:
    case files::FileError::NotAllowed:
        return "Permission denied";
    case files::FileError::OpenFailed:
        return opened.systemError.toUtf8();
    default:
        return "Input/output error";
    }
}

} // namespace

ChecksumRun::ChecksumRun(ChecksumCommand command, const files::FileService& files,
                         files::HashWorkers& workers, QObject* parent)
    : QObject(parent), command_(std::move(command)), files_(files), workers_(workers) {
    if (command_.names.isEmpty())
        command_.names = {"-"};
    connect(&watcher_, &QFutureWatcherBase::finished, this, &ChecksumRun::onHashed);
}

ChecksumRun::~ChecksumRun() {
    if (hashing_) {
        watcher_.disconnect(this);
        watcher_.future().cancel(); // the worker stops at its next chunk
    }
}

void ChecksumRun::start() {
    if (started_)
        return;
    started_ = true;
    next();
}

void ChecksumRun::takeInput(QByteArrayView data) {
    // Input for a command that reads none is thrown away, as the tools leave it unread.
    if (inputEnded_ || inputTooLong_ || !command_.names.contains("-"))
        return;
    if (input_.size() + data.size() > kMaxInput) {
        inputTooLong_ = true;
        input_.clear();
        return;
    }
    input_ += data;
}

void ChecksumRun::endInput() {
    if (inputEnded_)
        return;
    inputEnded_ = true;
    if (started_)
        next();
}

void ChecksumRun::fail(const QByteArray& name, QByteArrayView reason) {
    errors_ += checksumError(command_.tool, name, reason);
    failed_ = true;
}

void ChecksumRun::next() {
    while (!hashing_ && nextName_ < command_.names.size()) {
        const QByteArray name = command_.names.at(nextName_);
        if (name == "-") {
            if (!inputEnded_)
                break; // the rest of standard input is still to come
            ++nextName_;
            if (inputTooLong_) {
                fail(name, "Input too long");
                continue;
            }
            // A few bytes at most (rclone sends none): hashed here, by the same code.
            QBuffer buffer(&input_);
            buffer.open(QIODevice::ReadOnly);
            const files::HashResult r = files::hashDevice(buffer, command_.algorithm);
            input_.clear(); // read once, as the tools do
            if (r.ok)
                output_ += checksumLine(r.hex, name);
            else
                fail(name, r.systemError.toUtf8());
            continue;
        }
        // The name as the SFTP requests take it: from the root, never above it.
        files::OpenedFile opened;
        opened.error = files::FileError::NotFound;
        if (!name.isEmpty())
            opened = files_.openForChecksum(clientPathOf(name));
        if (!opened.ok()) {
            ++nextName_;
            fail(name, reasonOf(opened));
            continue;
        }
        hashing_ = true;
        watcher_.setFuture(workers_.start(std::move(opened.file), command_.algorithm));
        break;
    }
    if (!hashing_ && nextName_ >= command_.names.size())
        finished_ = true;
    Q_EMIT progressed();
}

void ChecksumRun::onHashed() {
    hashing_ = false;
    const QByteArray name = command_.names.at(nextName_++);
    const QFuture<files::HashResult> future = watcher_.future();
    if (future.isCanceled() || future.resultCount() == 0) {
        fail(name, "Interrupted");
    } else if (const files::HashResult r = future.result(); !r.ok) {
        fail(name, r.systemError.toUtf8());
    } else {
        output_ += checksumLine(r.hex, name);
    }
    next();
}

} // namespace kv::sftp
