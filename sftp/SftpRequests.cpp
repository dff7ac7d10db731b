#include "sftp/SftpRequestsShared.h"

#include "session/QuotaKeeper.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace kv::sftp {

using files::FileError;

QString clientPathOf(const QByteArray& bytes) {
    QString p = QString::fromUtf8(bytes);
    if (!p.startsWith(QLatin1Char('/')))
        p.prepend(QLatin1Char('/'));
    // cleanPath keeps leading ".." of an absolute path out: "/.." is "/".
    p = QDir::cleanPath(p);
    while (p.startsWith(QLatin1String("/..")) && (p.size() == 3 || p[3] == QLatin1Char('/')))
        p = p.mid(3).isEmpty() ? QStringLiteral("/") : p.mid(3);
    return p;
}

SftpRequests::SftpRequests(std::unique_ptr<files::FileService> files, Observer observer)
    : files_(std::move(files)), observer_(std::move(observer)) {}

SftpRequests::~SftpRequests() {
    abortAll();
}

void SftpRequests::abortAll() {
    const auto open = handles_;
    handles_.clear();
    for (const auto& h : open)
        finish(*h, events::TransferOutcome::Aborted);
    moving_ = nullptr;
}

const TransferNote* SftpRequests::currentTransfer() const {
    return moving_ && moving_->transfer ? &moving_->transfer->note() : nullptr;
}

QByteArray SftpRequests::answer(QByteArrayView payload) {
    const ParsedRequest parsed = parseRequest(payload);
    if (!parsed.ok()) {
        if (parsed.error == ParseError::UnknownType)
            return statusPacket(parsed.id.value_or(0), OpUnsupported, "Unsupported request");
        return statusPacket(parsed.id.value_or(0), BadMessage, "Bad message");
    }
    return dispatch(parsed.request);
}

QByteArray SftpRequests::dispatch(const Request& q) {
    switch (q.type) {
    case Init:
        return PacketWriter(Version)
            .u32(3)
            .string("posix-rename@openssh.com")
            .string("1")
            .string("fsync@openssh.com")
            .string("1")
            .string("limits@openssh.com")
            .string("1")
            .string("statvfs@openssh.com")
            .string("2")
            .finish();
    case Open:
        return open(q);
    case Close:
        return close(q);
    case Read:
        return read(q);
    case Write:
        return write(q);
    case Opendir:
        return openFolder(q);
    case Readdir:
        return readFolder(q);
    case Stat:
    case Lstat:
        return statPath(q);
    case Fstat:
        return statHandle(q);
    case Setstat:
        return setStat(q, clientPathOf(q.path));
    case Fsetstat: {
        Handle* h = handleOf(q.path);
        if (!h)
            return statusPacket(q.id, Failure, "Invalid handle");
        return setStat(q, h->transfer ? h->transfer->note().clientPath : h->folderPath);
    }
    case Remove:
        return status(
            q.id,
            session::deleteCounted(quota_, grant_.get(), *files_, clientPathOf(q.path)).error);
    case Mkdir:
        return status(q.id, files_->makeFolder(clientPathOf(q.path)).error);
    case Rmdir:
        return status(q.id, files_->removeFolder(clientPathOf(q.path)).error);
    case Realpath:
        return realPath(q);
    case Rename:
        return rename(q.id, q.path, q.path2);
    case Readlink:
    case Symlink:
        // Links would lead out of what the session sees: never made or told.
        return statusPacket(q.id, PermissionDenied, "Links are not served");
    case Extended:
        return extended(q);
    default:
        return statusPacket(q.id, OpUnsupported, "Unsupported request");
    }
}

QByteArray SftpRequests::statPath(const Request& q) {
    const files::FactsResult facts = files_->stat(clientPathOf(q.path));
    if (!facts.ok())
        return status(q.id, facts.error);
    return PacketWriter(AttrsReply).u32(q.id).attributes(attributesOf(facts.entry)).finish();
}

QByteArray SftpRequests::statHandle(const Request& q) {
    Handle* h = handleOf(q.path);
    if (!h)
        return statusPacket(q.id, Failure, "Invalid handle");
    if (h->transfer) {
        // The open file itself: its size grows while it is written.
        files::FsEntry e;
        e.size = h->transfer->currentSize();
        e.modified = h->transfer->currentModified();
        return PacketWriter(AttrsReply).u32(q.id).attributes(attributesOf(e)).finish();
    }
    Request byPath = q;
    byPath.path = h->folderPath.toUtf8();
    return statPath(byPath);
}

QByteArray SftpRequests::setStat(const Request& q, const QString& path) {
    const Attributes& a = q.attrs;
    if (a.has(Attributes::AccessModTime)) {
        for (const auto& h : std::as_const(handles_)) {
            if (h->transfer && h->transfer->note().clientPath == path)
                h->transfer->flush(); // buffered bytes written later would move the time again
        }
        const files::PathResult r =
            files_->setModified(path, QDateTime::fromSecsSinceEpoch(a.mtime, Qt::UTC));
        if (!r.ok())
            return status(q.id, r.error);
    }
    if (a.has(Attributes::UidGid))
        return statusPacket(q.id, PermissionDenied, "Owner cannot be changed");
    if (a.has(Attributes::Size)) {
        const files::FactsResult facts = files_->stat(path);
        if (!facts.ok())
            return status(q.id, facts.error);
        if (quint64(facts.entry.size) != a.size)
            return statusPacket(q.id, OpUnsupported, "Size cannot be changed");
    }
    if (a.has(Attributes::Permissions)) {
        // The permission bits only, under the same rule as SITE CHMOD.
        const files::PathResult r = files_->setMode(path, int(a.permissions & 0777));
        if (!r.ok())
            return status(q.id, r.error);
    }
    return statusPacket(q.id, Ok, "Success");
}

QByteArray SftpRequests::realPath(const Request& q) {
    const QString path = clientPathOf(q.path);
    return PacketWriter(NameReply)
        .u32(q.id)
        .u32(1)
        .string(path.toUtf8())
        .string(path.toUtf8())
        .attributes({})
        .finish();
}

QByteArray SftpRequests::rename(quint32 id, const QByteArray& from, const QByteArray& to) {
    const files::RenameSource source = files_->renameSource(clientPathOf(from));
    if (!source.ok())
        return status(id, source.error);
    return status(id, files_->rename(source, clientPathOf(to)).error);
}

QByteArray SftpRequests::fileSystem(const Request& q) {
    const files::SpaceResult space =
        session::withinQuota(quota_, grant_.get(), files_->freeSpace(clientPathOf(q.path)));
    if (!space.ok())
        return status(q.id, space.error);
    // A quota is told to the byte (units of 1), the disk in its own units.
    const bool byQuota = quota_ && grant_ && quota_->limited(grant_->accountId) &&
                         quota_->bytesLeft(grant_->accountId) >= 0;
    const quint64 unit = byQuota ? 1 : space.unitBytes > 0 ? quint64(space.unitBytes) : 4096;
    const quint64 freeUnits = quint64(space.freeBytes) / unit;
    // The file counts are not told: clients show sizes from these.
    return PacketWriter(ExtendedReply)
        .u32(q.id)
        .u64(unit)                             // f_bsize
        .u64(unit)                             // f_frsize
        .u64(quint64(space.totalBytes) / unit) // f_blocks
        .u64(freeUnits)                        // f_bfree
        .u64(freeUnits)                        // f_bavail
        .u64(0)                                // f_files
        .u64(0)                                // f_ffree
        .u64(0)                                // f_favail
        .u64(0)                                // f_fsid
        .u64(0)                                // f_flag
        .u64(255)                              // f_namemax
        .finish();
}

QByteArray SftpRequests::extended(const Request& q) {
    if (q.extension == "posix-rename@openssh.com")
        return rename(q.id, q.path, q.path2);
    if (q.extension == "fsync@openssh.com") {
        Handle* h = handleOf(q.path);
        if (!h || !h->transfer)
            return statusPacket(q.id, Failure, "Invalid handle");
        if (!h->transfer->sync())
            return statusPacket(q.id, Failure, "Failure");
        return statusPacket(q.id, Ok, "Success");
    }
    if (q.extension == "limits@openssh.com") {
        // OpenSSH's client sizes its reads and writes by these; without them
        // it falls back to 32 KiB blocks, eight times the requests.
        return PacketWriter(ExtendedReply)
            .u32(q.id)
            .u64(kMaxPacketLength)
            .u64(kMaxReadLength)
            .u64(kMaxWriteLength)
            .u64(kMaxOpenHandles)
            .finish();
    }
    if (q.extension == "statvfs@openssh.com")
        return fileSystem(q);
    if (q.extension == "hardlink@openssh.com")
        return statusPacket(q.id, PermissionDenied, "Links are not served");
    return statusPacket(q.id, OpUnsupported, "Unsupported request");
}

} // namespace kv::sftp
