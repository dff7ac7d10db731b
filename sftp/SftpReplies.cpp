#include "sftp/SftpRequestsShared.h"

#include <QLocale>

namespace kv::sftp {

using files::FileError;

namespace {

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

} // namespace

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

} // namespace kv::sftp
