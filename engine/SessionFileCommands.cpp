// File and folder commands of a session. Every client path goes through the
// connection's VirtualFileSystem; the real paths it returns are the only ones
// used here.

#include "engine/ControlSession.h"
#include "engine/Listing.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace kv::engine {

namespace {

QString quotedPath(QString path) {
    // RFC 959: a double quote inside a quoted path name is doubled.
    path.replace(u'"', QStringLiteral("\"\""));
    return path;
}

} // namespace

std::optional<ResolvedPath> ControlSession::resolve(const QString& arg, bool mustExist) {
    ResolvedPath p = vfs_.resolve(cwd_, arg, mustExist);
    if (p.error == PathError::TooLong) {
        reply(Reply::NameTooLong);
        return std::nullopt;
    }
    if (p.error == PathError::Forbidden) {
        reply(Reply::AccessDenied);
        return std::nullopt;
    }
    if (!p.ok() || (mustExist && !p.exists)) {
        reply(Reply::NoSuchFile, {arg});
        return std::nullopt;
    }
    return p;
}

bool ControlSession::changeOnDisk(const ResolvedPath& p, const QString& arg, Reply failure,
                                  bool (*change)(const QString& realPath)) {
    if (refusedByRights(p.virtualPath))
        return false;
    if (!change(p.realPath)) {
        reply(failure, {arg});
        return false;
    }
    return true;
}

void ControlSession::cmdCwd(const QString& arg) {
    const QString target = arg.trimmed().isEmpty() ? QStringLiteral("/") : arg;
    const std::optional<ResolvedPath> p = resolveExisting(target);
    if (!p)
        return;
    if (!p->isDir) {
        reply(Reply::NotADirectory, {target});
        return;
    }
    if (refusedByRights(p->virtualPath))
        return;
    cwd_ = p->virtualPath;
    reply(Reply::CwdOk);
}

void ControlSession::cmdCdup(const QString&) {
    cmdCwd(QStringLiteral(".."));
}

void ControlSession::cmdPwd(const QString&) {
    reply(Reply::CurrentDir, {quotedPath(cwd_)});
}

void ControlSession::cmdMkd(const QString& arg) {
    const std::optional<ResolvedPath> p = resolve(arg, false);
    if (!p)
        return;
    if (p->exists) {
        reply(Reply::FileExists, {arg});
        return;
    }
    if (changeOnDisk(*p, arg, Reply::CannotCreateDir,
                     [](const QString& r) { return QDir().mkdir(r); }))
        reply(Reply::DirCreated,
              {QLatin1Char('"') + quotedPath(p->virtualPath) + QLatin1Char('"')});
}

void ControlSession::cmdRmd(const QString& arg) {
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    if (!p->isDir) {
        reply(Reply::NotADirectory, {arg});
        return;
    }
    if (p->isMountPoint || p->virtualPath == u"/") {
        reply(Reply::AccessDenied);
        return;
    }
    if (!changeOnDisk(*p, arg, Reply::CannotRemoveDir,
                      [](const QString& r) { return QDir().rmdir(r); }))
        return;
    if (cwd_ == p->virtualPath || cwd_.startsWith(p->virtualPath + u'/'))
        cwd_ = QStringLiteral("/");
    reply(Reply::RemoveDirOk);
}

void ControlSession::cmdDele(const QString& arg) {
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    if (p->isDir) {
        reply(Reply::IsADirectory, {arg});
        return;
    }
    if (changeOnDisk(*p, arg, Reply::CannotDelete,
                     [](const QString& r) { return QFile::remove(r); }))
        reply(Reply::DeleteOk);
}

void ControlSession::cmdRnfr(const QString& arg) {
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    if (p->isMountPoint || p->virtualPath == u"/") {
        reply(Reply::AccessDenied);
        return;
    }
    renameFrom_ = *p;
    reply(Reply::WaitingForName);
}

void ControlSession::cmdRnto(const QString& arg) {
    if (!renameFrom_) {
        reply(Reply::RenameNeedsSource);
        return;
    }
    const ResolvedPath from = *renameFrom_;
    renameFrom_.reset();
    const ResolvedPath to = vfs_.resolve(cwd_, arg, false);
    if (to.error == PathError::Forbidden) {
        reply(Reply::AccessDenied);
        return;
    }
    if (!to.ok() || to.exists || to.isMountPoint) {
        // Never replaces an existing file or folder.
        reply(Reply::CannotRename, {arg});
        return;
    }
    if (refusedByRights(from.virtualPath))
        return;
#ifdef Q_OS_UNIX
    // rename(2) never copies: across file systems it fails instead of
    // blocking the event loop on a long copy.
    const bool moved = ::rename(QFile::encodeName(from.realPath).constData(),
                                QFile::encodeName(to.realPath).constData()) == 0;
#else
    const bool moved = QDir().rename(from.realPath, to.realPath);
#endif
    if (!moved) {
        reply(Reply::CannotRename, {arg});
        return;
    }
    reply(Reply::Renamed, {to.virtualPath});
}

void ControlSession::cmdSize(const QString& arg) {
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    const std::optional<FsEntry> e = p->isDir ? std::nullopt : vfs_.stat(*p);
    if (!e) {
        reply(Reply::NotARegularFile, {arg});
        return;
    }
    reply(Reply::FileStatus, {QString::number(e->size)});
}

void ControlSession::cmdMdtm(const QString& arg) {
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    const std::optional<FsEntry> e = vfs_.stat(*p);
    if (!e) {
        reply(Reply::NoSuchFile, {arg});
        return;
    }
    reply(Reply::FileStatus, {ftpTimestamp(e->modified)});
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
    const std::optional<ResolvedPath> p = resolveExisting(name);
    if (!p)
        return;
    if (refusedByRights(p->virtualPath))
        return;
    bool done = false;
#ifdef Q_OS_UNIX
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(when.toSecsSinceEpoch());
    times[1].tv_nsec = 0;
    done = ::utimensat(AT_FDCWD, QFile::encodeName(p->realPath).constData(), times, 0) == 0;
#endif
    if (!done) {
        reply(Reply::CannotSetTime, {name});
        return;
    }
    reply(Reply::ModifyTimeSet, {ftpTimestamp(when), p->virtualPath});
}

} // namespace kv::engine
