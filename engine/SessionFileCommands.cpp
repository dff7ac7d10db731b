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

std::optional<ResolvedPath> ControlSession::resolveExisting(const QString& arg) {
    ResolvedPath p = vfs_.resolve(cwd_, arg, true);
    if (p.error == PathError::TooLong) {
        reply(QStringLiteral("550 File name too long."));
        return std::nullopt;
    }
    if (p.error == PathError::Forbidden) {
        reply(Reply::AccessDenied);
        return std::nullopt;
    }
    if (!p.ok() || !p.exists) {
        reply(Reply::NoSuchFile, {arg});
        return std::nullopt;
    }
    return p;
}

std::optional<ResolvedPath> ControlSession::resolveNew(const QString& arg) {
    ResolvedPath p = vfs_.resolve(cwd_, arg, false);
    if (p.error == PathError::TooLong) {
        reply(QStringLiteral("550 File name too long."));
        return std::nullopt;
    }
    if (p.error == PathError::Forbidden) {
        reply(Reply::AccessDenied);
        return std::nullopt;
    }
    if (!p.ok()) {
        reply(Reply::NoSuchFile, {arg});
        return std::nullopt;
    }
    return p;
}

bool ControlSession::refuse(Verdict verdict) {
    if (closed_) // the handler closed the connection
        return true;
    if (verdict == Verdict::Deny) {
        reply(Reply::AccessDenied);
        return true;
    }
    return false;
}

void ControlSession::cmdCwd(const QString& arg) {
    const QString target = arg.trimmed().isEmpty() ? QStringLiteral("/") : arg;
    const std::optional<ResolvedPath> p = resolveExisting(target);
    if (!p)
        return;
    if (!p->isDir) {
        reply(QStringLiteral("550 %1: Not a directory.").arg(target));
        return;
    }
    if (refusedBy(&EngineEvents::ChangeDirCheck, p->virtualPath))
        return;
    cwd_ = p->virtualPath;
    reply(Reply::CwdOk);
}

void ControlSession::cmdPwd() {
    reply(Reply::CurrentDir, {quotedPath(cwd_)});
}

void ControlSession::cmdMkd(const QString& arg) {
    const std::optional<ResolvedPath> p = resolveNew(arg);
    if (!p)
        return;
    if (p->exists) {
        reply(QStringLiteral("550 %1: File exists.").arg(arg));
        return;
    }
    if (refusedBy(&EngineEvents::MakeDirCheck, p->virtualPath))
        return;
    if (!QDir().mkdir(p->realPath)) {
        reply(QStringLiteral("550 %1: Cannot create directory.").arg(arg));
        return;
    }
    reply(Reply::DirCreated, {QLatin1Char('"') + quotedPath(p->virtualPath) + QLatin1Char('"')});
}

void ControlSession::cmdRmd(const QString& arg) {
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    if (!p->isDir) {
        reply(QStringLiteral("550 %1: Not a directory.").arg(arg));
        return;
    }
    if (p->isMountPoint || p->virtualPath == u"/") {
        reply(Reply::AccessDenied);
        return;
    }
    if (refusedBy(&EngineEvents::RemoveDirCheck, p->virtualPath))
        return;
    if (!QDir().rmdir(p->realPath)) {
        reply(QStringLiteral("550 %1: Directory not empty or cannot be removed.").arg(arg));
        return;
    }
    if (cwd_ == p->virtualPath || cwd_.startsWith(p->virtualPath + u'/'))
        cwd_ = QStringLiteral("/");
    reply(QStringLiteral("250 RMD command successful."));
}

void ControlSession::cmdDele(const QString& arg) {
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    if (p->isDir) {
        reply(QStringLiteral("550 %1: Is a directory.").arg(arg));
        return;
    }
    if (refusedBy(&EngineEvents::DeleteCheck, p->virtualPath))
        return;
    if (!QFile::remove(p->realPath)) {
        reply(QStringLiteral("550 %1: Cannot delete file.").arg(arg));
        return;
    }
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
        reply(QStringLiteral("503 Bad sequence of commands: send RNFR first."));
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
    if (refusedBy(&EngineEvents::RenameCheck, from.virtualPath, to.virtualPath))
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
        reply(QStringLiteral("550 %1: Not a regular file.").arg(arg));
        return;
    }
    reply(QStringLiteral("213 %1").arg(e->size));
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
    reply(QStringLiteral("213 ") + ftpTimestamp(e->modified));
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
    if (refusedBy(&EngineEvents::OtherCheckB, p->virtualPath))
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
        reply(QStringLiteral("550 %1: Cannot change the modification time.").arg(name));
        return;
    }
    reply(QStringLiteral("213 Modify=%1; %2").arg(ftpTimestamp(when), p->virtualPath));
}

QString ControlSession::permFacts(const FsEntry& entry) const {
    // What the disk allows; the program's own rights are asked per operation.
    QString perm;
    if (entry.isDir) {
        perm = QStringLiteral("el");
        if (entry.writable)
            perm += QStringLiteral("cdfmp");
    } else {
        if (entry.readable)
            perm += u'r';
        if (entry.writable)
            perm += QStringLiteral("adfw");
    }
    return perm;
}

void ControlSession::cmdMlst(const QString& arg) {
    const QString target = arg.trimmed().isEmpty() ? cwd_ : arg;
    const std::optional<ResolvedPath> p = resolveExisting(target);
    if (!p)
        return;
    const std::optional<FsEntry> e = vfs_.stat(*p);
    if (!e) {
        reply(Reply::NoSuchFile, {target});
        return;
    }
    reply(QStringLiteral("250-Listing %1").arg(p->virtualPath));
    reply(QLatin1Char(' ') + QString::fromUtf8(mlsxLine(*e, p->virtualPath, permFacts(*e))));
    reply(QStringLiteral("250 End"));
}

} // namespace kv::engine
