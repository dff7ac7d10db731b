#include "sftp/SftpRequestsShared.h"

#include <QtEndian>

#include <limits>

namespace kv::sftp {

using files::FileError;

namespace {

constexpr int kEntriesPerReaddir = 100;

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
    files::OpenedFile opened;
    const quint32 f = q.openFlags;
    auto kind = events::TransferKind::Download;
    bool append = false;
    std::unique_ptr<session::UploadQuota> upload;
    if (!(f & (OpenWrite | OpenAppend))) {
        opened = files_->openForReading(path);
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
        session::UploadQuota::Opened within =
            session::UploadQuota::open(quota_, grant_.get(), *files_, path, mode, keep);
        if (!within.refusal.isEmpty()) {
            if (observer_.log)
                observer_.log(QStringLiteral("Upload %1 rifiutato: quota superata per l'account "
                                             "%2 (%3)")
                                  .arg(within.file.path, grant_->login, within.refusal));
            return statusPacket(q.id, Failure, "quota superata");
        }
        opened = std::move(within.file);
        upload = std::move(within.quota);
        append = mode == files::WriteMode::Append;
        kind = events::TransferKind::Upload;
    }
    if (!opened.ok()) {
        if (opened.error == FileError::OpenFailed)
            return statusPacket(q.id, Failure, opened.systemError.toUtf8());
        return status(q.id, opened.error);
    }
    auto h = std::make_unique<Handle>();
    h->transfer = std::make_unique<session::FileTransfer>(kind, std::move(opened), append);
    if (upload)
        h->transfer->setQuota(std::move(upload));
    return newHandle(q.id, std::move(h));
}

void SftpRequests::finish(Handle& h, events::TransferOutcome outcome) {
    if (moving_ == &h)
        moving_ = nullptr;
    if (!h.transfer)
        return;
    session::FileTransfer& t = *h.transfer;
    outcome = t.finish(outcome);
    // Every open file is one transfer: a file opened and closed without a
    // byte moved was still sent or received (an empty file).
    if (!t.moved() && observer_.started)
        observer_.started(t.note());
    if (observer_.finished)
        observer_.finished(t.note(), outcome);
}

void SftpRequests::noteMoving(Handle& h) {
    session::FileTransfer& t = *h.transfer;
    if (!t.moved() && observer_.started)
        observer_.started(t.note());
    t.markMoved();
    moving_ = &h;
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
    if (!h || !h->transfer || h->transfer->isUpload())
        return statusPacket(q.id, Failure, "Invalid handle");
    session::FileTransfer& t = *h->transfer;
    if (!t.seek(q.offset))
        return statusPacket(q.id, Eof, "End of file");
    const qint64 want = qMin<qint64>(q.length, kMaxReadLength);
    QByteArray header = PacketWriter(DataReply).u32(q.id).u32(0).finish();
    const qsizetype headerSize = header.size();
    header.resize(headerSize + want);
    const qint64 got = t.read(header.data() + headerSize, want);
    if (got < 0)
        return statusPacket(q.id, Failure, t.errorString().toUtf8());
    if (got == 0) {
        // The end came before the size the file had when it was opened:
        // the client gets less than the file it asked for.
        if (qint64(q.offset) < t.note().size)
            t.noteFailure(QStringLiteral("file accorciato durante il trasferimento, inviati %1 "
                                         "byte su %2")
                              .arg(t.note().bytes)
                              .arg(t.note().size));
        return statusPacket(q.id, Eof, "End of file");
    }
    header.resize(headerSize + got);
    qToBigEndian(quint32(header.size() - 4), header.data());
    qToBigEndian(quint32(got), header.data() + headerSize - 4);
    noteMoving(*h);
    sent_ += got;
    return header;
}

QByteArray SftpRequests::write(const Request& q) {
    Handle* h = handleOf(q.path);
    if (!h || !h->transfer || !h->transfer->isUpload())
        return statusPacket(q.id, Failure, "Invalid handle");
    session::FileTransfer& t = *h->transfer;
    if (!t.seek(q.offset))
        return statusPacket(q.id, Failure, "Cannot seek");
    if (!t.write(q.data))
        return statusPacket(q.id, Failure,
                            t.quotaReached() ? QByteArray("quota superata")
                                             : t.errorString().toUtf8());
    noteMoving(*h);
    received_ += q.data.size();
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
    h->folderPath = listing.path;
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
