// Checksum commands of a session: HASH with the algorithm OPTS HASH chose,
// answered "213 SHA-256 0-SIZE hex name", and the older XSHA256, XSHA1,
// XMD5 and XCRC, answered "250 HEX" as ProFTPD does. The file is read by
// the server's hash workers; meanwhile the session answers only what it
// answers during a transfer (NOOP, STAT, ABOR, QUIT), the rest waits.

#include "ftp/ControlSession.h"

#include "ftp/EngineSettings.h"

namespace kv::ftp {

using files::FileError;
using files::HashAlgorithm;

void ControlSession::cmdHash(const QString& arg) {
    startHash(hashAlgorithm_, HashReply::Range, arg);
}

void ControlSession::cmdXsha256(const QString& arg) {
    startHash(HashAlgorithm::Sha256, HashReply::Bare, arg);
}

void ControlSession::cmdXsha1(const QString& arg) {
    startHash(HashAlgorithm::Sha1, HashReply::Bare, arg);
}

void ControlSession::cmdXmd5(const QString& arg) {
    startHash(HashAlgorithm::Md5, HashReply::Bare, arg);
}

void ControlSession::cmdXcrc(const QString& arg) {
    startHash(HashAlgorithm::Crc32, HashReply::Bare, arg);
}

void ControlSession::startHash(HashAlgorithm algorithm, HashReply style, const QString& arg) {
    if (!settings_.hashWorkers) {
        reply(Reply::HashUnavailable, {arg});
        return;
    }
    files::OpenedFile opened = files_.openForChecksum(arg);
    if (opened.error == FileError::IsADirectory) {
        reply(Reply::NotARegularFile, {arg});
        return;
    }
    if (opened.error == FileError::OpenFailed) {
        reply(Reply::FileError, {arg, opened.systemError});
        return;
    }
    if (!opened.ok()) {
        replyRefused(opened.error, arg);
        return;
    }
    hashDone_.reset();
    auto running = std::make_unique<RunningHash>();
    running->algorithm = algorithm;
    running->style = style;
    running->name = arg;
    connect(&running->watcher, &QFutureWatcherBase::finished, this, &ControlSession::onHashDone);
    running->watcher.setFuture(settings_.hashWorkers->start(std::move(opened.file), algorithm));
    hashing_ = std::move(running);
}

void ControlSession::onHashDone() {
    if (!hashing_)
        return;
    hashDone_ = std::move(hashing_);
    if (closed_)
        return; // the client is gone: nobody to tell
    const RunningHash& done = *hashDone_;
    const QFuture<files::HashResult> future = done.watcher.future();
    if (future.isCanceled() || future.resultCount() == 0) {
        reply(Reply::HashUnavailable, {done.name});
    } else if (const files::HashResult r = future.result(); !r.ok) {
        reply(Reply::ReadError, {r.systemError});
    } else if (done.style == HashReply::Range) {
        reply(Reply::HashResult, {files::hashName(done.algorithm), QStringLiteral("0"),
                                  QString::number(r.bytes), QString::fromLatin1(r.hex), done.name});
    } else {
        reply(Reply::HashBare, {QString::fromLatin1(r.hex.toUpper())});
    }
    restartIdleTimer();
    processInput(); // the commands that waited
}

bool ControlSession::abortHash() {
    if (!hashing_)
        return false;
    hashDone_ = std::move(hashing_);
    hashDone_->watcher.disconnect(this);
    hashDone_->watcher.future().cancel();
    reply(Reply::HashAborted, {hashDone_->name});
    return true;
}

} // namespace kv::ftp
