#include "sftp/SftpRequests.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QtEndian>

#include <limits>

#include <unistd.h>

namespace kv::sftp {

using files::FileError;

struct SftpRequests::Handle {
    bool isFolder = false;
    std::unique_ptr<QFile> file;
    bool append = false;
    TransferNote note;
    bool moved = false; // a READ or WRITE went through: the transfer was reported
    QList<files::FsEntry> entries;
    qsizetype nextEntry = 0;
};

namespace {

constexpr int kEntriesPerReaddir = 100;

StatusCode statusOf(FileError e) {
    switch (e) {
    case FileError::None:
        return Ok;
    case FileError::NotFound:
        return NoSuchFile;
    case FileError::Forbidden:
    case FileError::NotAllowed:
        return PermissionDenied;
    default:
        return Failure;
    }
}

QByteArray messageOf(FileError e) {
    switch (e) {
    case FileError::None:
        return "Success";
    case FileError::TooLong:
        return "Path too long";
    case FileError::Forbidden:
    case FileError::NotAllowed:
        return "Permission denied";
    case FileError::NotFound:
        return "No such file";
    case FileError::NotADirectory:
        return "Not a directory";
    case FileError::IsADirectory:
        return "Is a directory";
    case FileError::Exists:
        return "File exists";
    default:
        return "Failure";
    }
}

QByteArray status(quint32 id, FileError e) {
    return statusPacket(id, statusOf(e), messageOf(e));
}

Attributes attributesOf(const files::FsEntry& e) {
    Attributes a;
    a.flags = Attributes::Size | Attributes::Permissions | Attributes::AccessModTime;
    a.size = quint64(e.isDir ? 0 : e.size);
    // A link the server does not follow is shown as one (and cannot be opened).
    quint32 mode = e.isLink ? 0120000 : e.isDir ? 040000 | 0111 : 0100000;
    if (e.readable)
        mode |= 0444;
    if (e.writable)
        mode |= 0200;
    a.permissions = mode;
    const qint64 secs = e.modified.isValid() ? e.modified.toSecsSinceEpoch() : 0;
    a.mtime = a.atime = quint32(qBound<qint64>(0, secs, 0xFFFFFFFFLL));
    return a;
}

// An "ls -l" line, as clients show it.
QByteArray longNameOf(const files::FsEntry& e) {
    const Attributes a = attributesOf(e);
    QByteArray mode(10, '-');
    if (e.isDir)
        mode[0] = 'd';
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        if (a.permissions & (0400 >> i))
            mode[i + 1] = rwx[i];
    }
    const QDateTime t = e.modified.toUTC();
    const QString when = QLocale::c().toString(t, t.daysTo(QDateTime::currentDateTimeUtc()) > 180
                                                      ? QStringLiteral("MMM dd  yyyy")
                                                      : QStringLiteral("MMM dd HH:mm"));
    return mode + " 1 ftp ftp " + QByteArray::number(qint64(a.size)).rightJustified(12, ' ') + ' ' +
           when.toUtf8() + ' ' + e.name.toUtf8();
}

} // namespace

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
    return moving_ ? &moving_->note : nullptr;
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
        return setStat(q, h->note.clientPath);
    }
    case Remove:
        return status(q.id, files_->deleteFile(clientPathOf(q.path)).error);
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

QByteArray SftpRequests::newHandle(quint32 id, std::unique_ptr<Handle> handle) {
    if (handles_.size() >= kMaxOpenHandles)
        return statusPacket(id, Failure, "Too many open handles");
    const QByteArray name = QByteArray::number(nextHandle_++);
    handles_.insert(name, std::shared_ptr<Handle>(std::move(handle)));
    return PacketWriter(HandleReply).u32(id).string(name).finish();
}

SftpRequests::Handle* SftpRequests::handleOf(const QByteArray& bytes) {
    const auto it = handles_.constFind(bytes);
    return it == handles_.constEnd() ? nullptr : it->get();
}

QByteArray SftpRequests::open(const Request& q) {
    const QString path = clientPathOf(q.path);
    auto h = std::make_unique<Handle>();
    files::OpenedFile opened;
    const quint32 f = q.openFlags;
    if (!(f & (OpenWrite | OpenAppend))) {
        opened = files_->openForReading(path);
        h->note.kind = events::TransferKind::Download;
    } else {
        // What is there matters only to these flags; a plain upload (create
        // and truncate, as clients send) goes straight to the open.
        const bool asksWhatIsThere =
            (f & OpenExclusive) || !(f & OpenCreate) || !(f & (OpenTruncate | OpenAppend));
        files::FactsResult existing;
        existing.error = FileError::NotFound;
        if (asksWhatIsThere)
            existing = files_->stat(path);
        if ((f & OpenExclusive) && existing.ok())
            return status(q.id, FileError::Exists);
        if (!(f & OpenCreate) && !existing.ok())
            return status(q.id, existing.error);
        files::WriteMode mode = files::WriteMode::Replace;
        qint64 keep = 0;
        if (f & OpenAppend)
            mode = files::WriteMode::Append;
        else if (!(f & OpenTruncate) && existing.ok() && !existing.entry.isDir)
            keep = existing.entry.size; // written in place, as the client asks by offset
        opened = files_->openForWriting(path, mode, keep);
        h->append = mode == files::WriteMode::Append;
        h->note.kind = events::TransferKind::Upload;
    }
    if (!opened.ok()) {
        if (opened.error == FileError::OpenFailed)
            return statusPacket(q.id, Failure, opened.systemError.toUtf8());
        return status(q.id, opened.error);
    }
    h->note.clientPath = opened.path;
    h->note.diskPath = opened.file->fileName();
    h->note.size = h->note.kind == events::TransferKind::Download ? opened.size : -1;
    h->file = std::move(opened.file);
    return newHandle(q.id, std::move(h));
}

void SftpRequests::finish(Handle& h, events::TransferOutcome outcome) {
    if (moving_ == &h)
        moving_ = nullptr;
    if (h.isFolder || !h.file)
        return;
    if (h.note.kind == events::TransferKind::Upload &&
        outcome == events::TransferOutcome::Complete && !h.file->flush())
        outcome = events::TransferOutcome::Failed;
    h.file->close();
    // Every open file is one transfer: a file opened and closed without a
    // byte moved was still sent or received (an empty file).
    if (!h.moved && observer_.started)
        observer_.started(h.note);
    if (observer_.finished)
        observer_.finished(h.note, outcome);
}

QByteArray SftpRequests::close(const Request& q) {
    const auto it = handles_.constFind(q.path);
    if (it == handles_.constEnd())
        return statusPacket(q.id, Failure, "Invalid handle");
    const std::shared_ptr<Handle> h = *it;
    handles_.erase(it);
    finish(*h, events::TransferOutcome::Complete);
    return statusPacket(q.id, Ok, "Success");
}

QByteArray SftpRequests::read(const Request& q) {
    Handle* h = handleOf(q.path);
    if (!h || h->isFolder || h->note.kind != events::TransferKind::Download)
        return statusPacket(q.id, Failure, "Invalid handle");
    if (q.offset > quint64(std::numeric_limits<qint64>::max()) || !h->file->seek(qint64(q.offset)))
        return statusPacket(q.id, Eof, "End of file");
    const qint64 want = qMin<qint64>(q.length, kMaxReadLength);
    QByteArray header = PacketWriter(DataReply).u32(q.id).u32(0).finish();
    const qsizetype headerSize = header.size();
    header.resize(headerSize + want);
    const qint64 got = h->file->read(header.data() + headerSize, want);
    if (got < 0)
        return statusPacket(q.id, Failure, h->file->errorString().toUtf8());
    if (got == 0)
        return statusPacket(q.id, Eof, "End of file");
    header.resize(headerSize + got);
    qToBigEndian(quint32(header.size() - 4), header.data());
    qToBigEndian(quint32(got), header.data() + headerSize - 4);
    if (!h->moved && observer_.started)
        observer_.started(h->note);
    h->moved = true;
    h->note.bytes += got;
    sent_ += got;
    moving_ = h;
    return header;
}

QByteArray SftpRequests::write(const Request& q) {
    Handle* h = handleOf(q.path);
    if (!h || h->isFolder || h->note.kind != events::TransferKind::Upload)
        return statusPacket(q.id, Failure, "Invalid handle");
    if (!h->append && (q.offset > quint64(std::numeric_limits<qint64>::max()) ||
                       !h->file->seek(qint64(q.offset))))
        return statusPacket(q.id, Failure, "Cannot seek");
    if (h->file->write(q.data) != q.data.size())
        return statusPacket(q.id, Failure, h->file->errorString().toUtf8());
    if (!h->moved && observer_.started)
        observer_.started(h->note);
    h->moved = true;
    h->note.bytes += q.data.size();
    received_ += q.data.size();
    moving_ = h;
    return statusPacket(q.id, Ok, "Success");
}

QByteArray SftpRequests::openFolder(const Request& q) {
    files::FolderListing listing = files_->list(clientPathOf(q.path));
    if (!listing.ok())
        return status(q.id, listing.error);
    if (!listing.isDir)
        return status(q.id, FileError::NotADirectory);
    auto h = std::make_unique<Handle>();
    h->isFolder = true;
    h->note.clientPath = listing.path;
    files::FsEntry self;
    self.isDir = true;
    self.name = QStringLiteral(".");
    files::FsEntry parent = self;
    parent.name = QStringLiteral("..");
    h->entries = {self, parent};
    h->entries += listing.entries;
    return newHandle(q.id, std::move(h));
}

QByteArray SftpRequests::readFolder(const Request& q) {
    Handle* h = handleOf(q.path);
    if (!h || !h->isFolder)
        return statusPacket(q.id, Failure, "Invalid handle");
    const qsizetype left = h->entries.size() - h->nextEntry;
    if (left <= 0)
        return statusPacket(q.id, Eof, "End of folder");
    const qsizetype n = qMin<qsizetype>(left, kEntriesPerReaddir);
    PacketWriter w(NameReply);
    w.u32(q.id).u32(quint32(n));
    for (qsizetype i = 0; i < n; ++i) {
        const files::FsEntry& e = h->entries[h->nextEntry++];
        w.string(e.name.toUtf8()).string(longNameOf(e)).attributes(attributesOf(e));
    }
    return w.finish();
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
    if (h->file) {
        // The open file itself: its size grows while it is written.
        h->file->flush();
        files::FsEntry e;
        e.size = h->file->size();
        e.modified = QFileInfo(h->note.diskPath).lastModified().toUTC();
        return PacketWriter(AttrsReply).u32(q.id).attributes(attributesOf(e)).finish();
    }
    Request byPath = q;
    byPath.path = h->note.clientPath.toUtf8();
    return statPath(byPath);
}

QByteArray SftpRequests::setStat(const Request& q, const QString& path) {
    const Attributes& a = q.attrs;
    if (a.has(Attributes::AccessModTime)) {
        for (const auto& h : std::as_const(handles_)) {
            if (h->file && h->note.clientPath == path)
                h->file->flush(); // buffered bytes written later would move the time again
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

QByteArray SftpRequests::extended(const Request& q) {
    if (q.extension == "posix-rename@openssh.com")
        return rename(q.id, q.path, q.path2);
    if (q.extension == "fsync@openssh.com") {
        Handle* h = handleOf(q.path);
        if (!h || !h->file)
            return statusPacket(q.id, Failure, "Invalid handle");
        if (!h->file->flush() ||
            (h->note.kind == events::TransferKind::Upload && ::fsync(h->file->handle()) != 0))
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
    if (q.extension == "hardlink@openssh.com")
        return statusPacket(q.id, PermissionDenied, "Links are not served");
    return statusPacket(q.id, OpUnsupported, "Unsupported request");
}

} // namespace kv::sftp
