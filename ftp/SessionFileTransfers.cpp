// File transfers of a control session: RETR, STOR, APPE and STOU have the
// file service open the file and hand it to the transfer life cycle; REST
// sets the offset for the next RETR or STOR.

#include "ftp/ControlSession.h"

#include "ftp/EngineSettings.h"
#include "session/QuotaKeeper.h"
#include "session/UploadQuota.h"

namespace kv::ftp {

using files::FileError;

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
    files::OpenedFile opened = files_.openForReading(arg, offset);
    switch (opened.error) {
    case FileError::None:
        break;
    case FileError::IsADirectory:
        reply(Reply::NotARegularFile, {arg});
        return;
    case FileError::OpenFailed:
        reply(Reply::FileError, {arg, opened.systemError});
        return;
    case FileError::RestartBeyondEnd:
        reply(Reply::RestartBeyondEnd, {QString::number(offset)});
        return;
    default:
        replyRefused(opened.error, arg);
        return;
    }
    auto pending = std::make_unique<PendingTransfer>();
    pending->kind = PendingTransfer::Kind::Download;
    pending->file = std::move(opened.file);
    pending->diskPath = opened.diskPath;
    pending->offset = offset;
    pending->size = opened.size;
    pending->ascii = asciiType_;
    pending->path = opened.path;
    const QString detail = QStringLiteral(" for %1 (%2 bytes)").arg(arg).arg(opened.size - offset);
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
    const files::WriteMode writeMode = unique                      ? files::WriteMode::UniqueName
                                       : mode == StoreMode::Append ? files::WriteMode::Append
                                                                   : files::WriteMode::Replace;
    session::UploadQuota::Opened within =
        session::UploadQuota::open(settings_.quota, grant_.get(), files_, arg, writeMode, offset);
    if (!within.refusal.isEmpty()) {
        // Refused before the 150: a client's automatic retries of the same
        // path end here while the account is over its quota.
        log(QStringLiteral("Upload %1 rifiutato: quota superata per l'account %2 (%3)")
                .arg(within.file.path, grant_->login, within.refusal));
        reply(Reply::QuotaExceeded);
        return;
    }
    files::OpenedFile& opened = within.file;
    // The name tried, which for STOU is the unique one.
    const QString& shownName = opened.name;
    switch (opened.error) {
    case FileError::None:
        break;
    case FileError::IsADirectory:
        reply(Reply::IsADirectory, {shownName});
        return;
    case FileError::NoUniqueName:
        reply(Reply::NoUniqueName, {shownName});
        return;
    case FileError::RestartBeyondEnd:
        reply(Reply::RestartBeyondEnd, {QString::number(offset)});
        return;
    case FileError::OpenFailed:
        reply(Reply::FileError, {shownName, opened.systemError});
        return;
    default:
        replyRefused(opened.error, shownName);
        return;
    }
    auto pending = std::make_unique<PendingTransfer>();
    pending->kind = PendingTransfer::Kind::Upload;
    pending->file = std::move(opened.file);
    pending->quota = std::move(within.quota);
    pending->diskPath = opened.diskPath;
    pending->ascii = asciiType_;
    pending->path = opened.path;
    pending->opening =
        unique ? settings_.replies.format(Reply::UniqueFileOpening, {shownName})
               : settings_.replies.format(asciiType_ ? Reply::OpeningAscii : Reply::OpeningBinary,
                                          {QStringLiteral(" for %1").arg(shownName)});
    beginTransfer(std::move(pending));
}

} // namespace kv::ftp
