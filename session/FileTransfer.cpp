#include "session/FileTransfer.h"

#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace kv::session {

namespace {

QString writeFailure(const QFile& file) {
    return QStringLiteral("scrittura del file non riuscita (%1)").arg(file.errorString());
}

} // namespace

FileTransfer::FileTransfer(events::TransferKind kind, files::OpenedFile opened, bool append)
    : file_(std::move(opened.file)), append_(append) {
    note_.kind = kind;
    note_.clientPath = opened.path;
    note_.diskPath = opened.diskPath;
    note_.size = kind == events::TransferKind::Download ? opened.size : -1;
}

bool FileTransfer::seek(quint64 offset) {
    if (append_)
        return true;
    if (offset > quint64(std::numeric_limits<qint64>::max()))
        return false;
    // Clients read and write a file front to back: a request at the offset
    // the last one ended on needs no seek, which is a system call of its own.
    return file_->pos() == qint64(offset) || file_->seek(qint64(offset));
}

qint64 FileTransfer::read(char* into, qint64 max) {
    const qint64 got = file_->read(into, max);
    if (got < 0)
        noteFailure(QStringLiteral("lettura del file non riuscita (%1)").arg(file_->errorString()));
    else
        note_.bytes += got;
    return got;
}

bool FileTransfer::write(QByteArrayView data) {
    // Taken from the quota before it is written; what does not fit is not.
    const qint64 fit =
        quota_ ? quota_->admit(append_ ? -1 : file_->pos(), data.size()) : data.size();
    if (file_->write(data.data(), fit) != fit) {
        noteFailure(writeFailure(*file_));
        return false;
    }
    note_.bytes += fit;
    if (fit < data.size()) {
        noteFailure(quota_->replacing()
                        ? QStringLiteral("quota superata, file precedente conservato")
                        : QStringLiteral("quota superata, file parziale di %1 byte conservato")
                              .arg(currentSize()));
        return false;
    }
    return true;
}

void FileTransfer::noteFailure(const QString& why) {
    if (note_.failure.isEmpty())
        note_.failure = why;
}

qint64 FileTransfer::currentSize() {
    file_->flush();
    return file_->size();
}

QDateTime FileTransfer::currentModified() {
    file_->flush();
    // The open file itself, by its descriptor: the path may have been
    // renamed or replaced since it was opened.
    struct stat st {};
    if (::fstat(file_->handle(), &st) != 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(
        qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000, Qt::UTC);
}

bool FileTransfer::sync() {
    if (!file_->flush())
        return false;
    return !isUpload() || ::fsync(file_->handle()) == 0;
}

events::TransferOutcome FileTransfer::finish(events::TransferOutcome outcome) {
    if (outcome == events::TransferOutcome::Complete && !note_.failure.isEmpty())
        outcome = events::TransferOutcome::Failed;
    if (isUpload() && outcome == events::TransferOutcome::Complete) {
        if (!file_->flush()) {
            note_.failure = writeFailure(*file_);
            outcome = events::TransferOutcome::Failed;
        } else {
            note_.fileSize = file_->size();
        }
    }
    if (quota_ && !quota_->finish(outcome == events::TransferOutcome::Complete, file_->handle())) {
        note_.failure =
            QStringLiteral("sostituzione del file non riuscita (%1)").arg(qt_error_string(errno));
        outcome = events::TransferOutcome::Failed;
    }
    file_->close();
    return outcome;
}

} // namespace kv::session
