// File transfers of a control session: RETR, STOR, APPE and STOU open the
// file and hand it to the transfer life cycle; REST sets the offset for the
// next RETR or STOR.

#include "engine/ControlSession.h"

#include "engine/EngineSettings.h"

#include <QFile>
#include <QFileInfo>

namespace kv::engine {

namespace {

// Unique names for STOU are tried up to this many times.
constexpr int kMaxUniqueTries = 1000;

} // namespace

void ControlSession::cmdRest(const QString& arg) {
    bool ok = false;
    const qint64 offset = arg.trimmed().toLongLong(&ok);
    if (!ok || offset < 0) {
        reply(Reply::SyntaxError);
        return;
    }
    restOffset_ = offset;
    reply(Reply::Restarting, {QString::number(offset)});
}

void ControlSession::cmdRetr(const QString& arg) {
    const qint64 offset = std::exchange(restOffset_, 0);
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    if (p->isDir) {
        reply(Reply::NotARegularFile, {arg});
        return;
    }
    if (refusedByRights(p->virtualPath))
        return;
    auto file = std::make_unique<QFile>(p->realPath);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        reply(Reply::FileError, {arg, file->errorString()});
        return;
    }
    const qint64 size = file->size();
    if (offset > size) {
        reply(Reply::RestartBeyondEnd, {QString::number(offset)});
        return;
    }
    auto pending = std::make_unique<PendingTransfer>();
    pending->kind = PendingTransfer::Kind::Download;
    pending->file = std::move(file);
    pending->offset = offset;
    pending->size = size;
    pending->ascii = asciiType_;
    pending->path = p->virtualPath;
    const QString detail = QStringLiteral(" for %1 (%2 bytes)").arg(arg).arg(size - offset);
    pending->opening =
        settings_.replies.format(asciiType_ ? Reply::OpeningAscii : Reply::OpeningBinary, {detail});
    beginTransfer(std::move(pending));
}

void ControlSession::cmdStor(const QString& arg) {
    store(StoreMode::Replace, arg);
}

void ControlSession::cmdAppe(const QString& arg) {
    store(StoreMode::Append, arg);
}

void ControlSession::cmdStou(const QString& arg) {
    store(StoreMode::Unique, arg);
}

void ControlSession::store(StoreMode mode, const QString& arg) {
    const qint64 offset = mode == StoreMode::Replace ? std::exchange(restOffset_, 0) : 0;
    restOffset_ = 0;
    const bool unique = mode == StoreMode::Unique;
    QString shownName = arg;
    if (unique) {
        const QString base = arg.trimmed().isEmpty() ? QStringLiteral("upload") : arg;
        for (int i = 0; i < kMaxUniqueTries; ++i) {
            const QString candidate = i == 0 ? base : QStringLiteral("%1.%2").arg(base).arg(i);
            ResolvedPath r = vfs_.resolve(cwd_, candidate, false);
            if (!r.ok() || !r.exists) {
                shownName = candidate;
                break;
            }
        }
    }
    const std::optional<ResolvedPath> p = resolve(shownName, false);
    if (!p)
        return;
    if (p->isMountPoint || p->virtualPath == u"/") {
        reply(Reply::AccessDenied);
        return;
    }
    if (p->exists && p->isDir) {
        reply(Reply::IsADirectory, {shownName});
        return;
    }
    if (unique && p->exists) {
        reply(Reply::NoUniqueName, {shownName});
        return;
    }
    if (refusedByRights(p->virtualPath))
        return;

    auto file = std::make_unique<QFile>(p->realPath);
    QIODevice::OpenMode openMode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (mode == StoreMode::Append)
        openMode |= QIODevice::Append;
    else if (unique)
        openMode |= QIODevice::NewOnly;
    else if (offset > 0)
        openMode = QIODevice::ReadWrite | QIODevice::Unbuffered; // keep what is already there
    else
        openMode |= QIODevice::Truncate;
    if (offset > 0 && QFileInfo(p->realPath).size() < offset) {
        reply(Reply::RestartBeyondEnd, {QString::number(offset)});
        return;
    }
    // A resumed upload replaces everything after the offset, so the result
    // is the first `offset` bytes followed by exactly what the client sends.
    if (!file->open(openMode) || (offset > 0 && (!file->resize(offset) || !file->seek(offset)))) {
        reply(Reply::FileError, {shownName, file->errorString()});
        return;
    }
    auto pending = std::make_unique<PendingTransfer>();
    pending->kind = PendingTransfer::Kind::Upload;
    pending->file = std::move(file);
    pending->ascii = asciiType_;
    pending->path = p->virtualPath;
    pending->opening =
        unique ? settings_.replies.format(Reply::UniqueFileOpening, {shownName})
               : settings_.replies.format(asciiType_ ? Reply::OpeningAscii : Reply::OpeningBinary,
                                          {QStringLiteral(" for %1").arg(shownName)});
    beginTransfer(std::move(pending));
}

} // namespace kv::engine
