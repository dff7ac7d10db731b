// File and folder commands of a session: each parses its argument, asks the
// session's file service and turns the result into its reply.

#include "ftp/ControlSession.h"

#include "ftp/EngineSettings.h"
#include "ftp/Listing.h"
#include "session/UploadQuota.h"

namespace kv::ftp {

using files::FileError;

namespace {

QString quotedPath(QString path) {
    // RFC 959: a double quote inside a quoted path name is doubled.
    path.replace(u'"', QStringLiteral("\"\""));
    return path;
}

} // namespace

void ControlSession::startFileService() {
    files_ = files::FileService(
        grant_, settings_.resolveLinks != 0,
        [this](events::FileEvent e) { notifyFileChange(std::move(e)); }, settings_.areas,
        settings_.ownFiles);
    permTable_ = PermTable(grant_.get());
}

void ControlSession::notifyFileChange(events::FileEvent change) {
    if (events::ServerEvents* bus = notifications()) {
        change.session = sessionInfo();
        Q_EMIT bus->fileChanged(change);
    }
}

void ControlSession::replyRefused(FileError error, const QString& arg) {
    switch (error) {
    case FileError::TooLong:
        reply(Reply::NameTooLong);
        return;
    case FileError::Forbidden:
    case FileError::NotAllowed:
        reply(Reply::AccessDenied);
        return;
    default:
        reply(Reply::NoSuchFile, {arg});
        return;
    }
}

void ControlSession::cmdCwd(const QString& arg) {
    const QString target = arg.trimmed().isEmpty() ? QStringLiteral("/") : arg;
    const files::PathResult r = files_.changeFolder(target);
    if (r.error == FileError::NotADirectory)
        reply(Reply::NotADirectory, {target});
    else if (!r.ok())
        replyRefused(r.error, target);
    else
        reply(Reply::CwdOk);
}

void ControlSession::cmdCdup(const QString&) {
    cmdCwd(QStringLiteral(".."));
}

void ControlSession::cmdPwd(const QString&) {
    reply(Reply::CurrentDir, {quotedPath(files_.currentFolder())});
}

void ControlSession::cmdMkd(const QString& arg) {
    QString why;
    const files::PathResult r = files_.makeFolderSaying(arg, why);
    if (r.error == FileError::Exists)
        reply(Reply::FileExists, {arg});
    else if (r.error == FileError::Failed && !why.isEmpty())
        reply(Reply::FileError, {arg, why}); // e.g. "Read-only file system"
    else if (r.error == FileError::Failed)
        reply(Reply::CannotCreateDir, {arg});
    else if (!r.ok())
        replyRefused(r.error, arg);
    else
        reply(Reply::DirCreated, {QLatin1Char('"') + quotedPath(r.path) + QLatin1Char('"')});
}

void ControlSession::cmdRmd(const QString& arg) {
    const files::PathResult r = files_.removeFolder(arg);
    if (r.error == FileError::NotADirectory)
        reply(Reply::NotADirectory, {arg});
    else if (r.error == FileError::Failed)
        reply(Reply::CannotRemoveDir, {arg});
    else if (!r.ok())
        replyRefused(r.error, arg);
    else
        reply(Reply::RemoveDirOk);
}

void ControlSession::cmdDele(const QString& arg) {
    const files::PathResult r = session::deleteCounted(settings_.quota, grant_.get(), files_, arg);
    if (r.error == FileError::IsADirectory)
        reply(Reply::IsADirectory, {arg});
    else if (r.error == FileError::Failed)
        reply(Reply::CannotDelete, {arg});
    else if (!r.ok())
        replyRefused(r.error, arg);
    else
        reply(Reply::DeleteOk);
}

void ControlSession::cmdRnfr(const QString& arg) {
    files::RenameSource source = files_.renameSource(arg);
    if (!source.ok()) {
        replyRefused(source.error, arg);
        return;
    }
    renameFrom_ = std::move(source);
    reply(Reply::WaitingForName);
}

void ControlSession::cmdRnto(const QString& arg) {
    if (!renameFrom_) {
        reply(Reply::RenameNeedsSource);
        return;
    }
    const files::RenameSource from = *std::exchange(renameFrom_, std::nullopt);
    const files::PathResult r = files_.rename(from, arg);
    if (r.error == FileError::Forbidden || r.error == FileError::NotAllowed)
        reply(Reply::AccessDenied);
    else if (!r.ok()) // never replaces an existing file or folder
        reply(Reply::CannotRename, {arg});
    else
        reply(Reply::Renamed, {r.path});
}

void ControlSession::cmdSize(const QString& arg) {
    const files::FactsResult r = files_.stat(arg);
    if (r.error == FileError::NoFacts || (r.ok() && r.entry.isDir))
        reply(Reply::NotARegularFile, {arg});
    else if (!r.ok())
        replyRefused(r.error, arg);
    else
        reply(Reply::FileStatus, {QString::number(r.entry.size)});
}

void ControlSession::cmdMdtm(const QString& arg) {
    const files::FactsResult r = files_.stat(arg);
    if (!r.ok())
        replyRefused(r.error, arg);
    else
        reply(Reply::FileStatus, {ftpTimestamp(r.entry.modified)});
}

void ControlSession::cmdMfmt(const QString& arg) {
    const QString stamp = arg.section(u' ', 0, 0);
    const QString name = arg.section(u' ', 1);
    QDateTime when = QDateTime::fromString(stamp.left(14), QStringLiteral("yyyyMMddHHmmss"));
    if (name.isEmpty() || !when.isValid()) {
        reply(Reply::SyntaxError);
        return;
    }
    when.setTimeSpec(Qt::UTC);
    const files::PathResult r = files_.setModified(name, when);
    if (r.error == FileError::Failed)
        reply(Reply::CannotSetTime, {name});
    else if (!r.ok())
        replyRefused(r.error, name);
    else
        reply(Reply::ModifyTimeSet, {ftpTimestamp(when), r.path});
}

} // namespace kv::ftp
