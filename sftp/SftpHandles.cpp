#include "sftp/SftpRequestsShared.h"

#include <QtEndian>

#include <limits>

namespace kv::sftp {

using files::FileError;

namespace {

constexpr int kEntriesPerReaddir = 100;

// Clients read and write a file front to back: a request at the offset the
// last one ended on needs no seek, which is a system call of its own.
bool moveTo(QFile& file, quint64 offset) {
    if (offset > quint64(std::numeric_limits<qint64>::max()))
        return false;
    return file.pos() == qint64(offset) || file.seek(qint64(offset));
}

// The first thing that went wrong stays the reason.
void noteFailure(TransferNote& note, const QString& why) {
    if (note.failure.isEmpty())
        note.failure = why;
}

QString writeFailure(const QFile& file) {
    return QStringLiteral("scrittura del file non riuscita (%1)").arg(file.errorString());
}

} // namespace

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
    if (outcome == events::TransferOutcome::Complete && !h.note.failure.isEmpty())
        outcome = events::TransferOutcome::Failed;
    if (h.note.kind == events::TransferKind::Upload &&
        outcome == events::TransferOutcome::Complete) {
        if (!h.file->flush()) {
            h.note.failure = writeFailure(*h.file);
            outcome = events::TransferOutcome::Failed;
        } else {
            // The whole file, also when this upload appended to it or
            // resumed it at an offset.
            h.note.fileSize = h.file->size();
        }
    }
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
    if (!moveTo(*h->file, q.offset))
        return statusPacket(q.id, Eof, "End of file");
    const qint64 want = qMin<qint64>(q.length, kMaxReadLength);
    QByteArray header = PacketWriter(DataReply).u32(q.id).u32(0).finish();
    const qsizetype headerSize = header.size();
    header.resize(headerSize + want);
    const qint64 got = h->file->read(header.data() + headerSize, want);
    if (got < 0) {
        noteFailure(
            h->note,
            QStringLiteral("lettura del file non riuscita (%1)").arg(h->file->errorString()));
        return statusPacket(q.id, Failure, h->file->errorString().toUtf8());
    }
    if (got == 0) {
        // The end came before the size the file had when it was opened:
        // the client gets less than the file it asked for.
        if (qint64(q.offset) < h->note.size)
            noteFailure(h->note,
                        QStringLiteral("file accorciato durante il trasferimento, inviati %1 "
                                       "byte su %2")
                            .arg(h->note.bytes)
                            .arg(h->note.size));
        return statusPacket(q.id, Eof, "End of file");
    }
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
    if (!h->append && !moveTo(*h->file, q.offset))
        return statusPacket(q.id, Failure, "Cannot seek");
    if (h->file->write(q.data) != q.data.size()) {
        noteFailure(h->note, writeFailure(*h->file));
        return statusPacket(q.id, Failure, h->file->errorString().toUtf8());
    }
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

} // namespace kv::sftp
