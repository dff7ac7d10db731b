#pragma once
// Text forms of directory entries as FTP clients parse them.

#include "files/FileFacts.h"
#include "ftp/ListingWriter.h"

#include <QByteArray>
#include <QDateTime>

namespace kv::ftp {

// One line of a LIST reply in the Unix "ls -l" form, without the line end:
// "drwxr-xr-x 1 ftp ftp 4096 Mar 05 14:03 name" for entries of the last six
// months, "-rw-r--r-- 1 ftp ftp 12 Mar 05  2021 name" for older ones (and
// for those more than an hour in the future). Dates are UTC, month names
// English whatever the locale. A link that is not followed shows as
// "lrwxrwxrwx 1 ftp ftp 0 ... name", without its target. CR or LF in a name
// becomes '?', so a file name can never forge a further line.
QByteArray listLine(const files::FsEntry& entry, const QDateTime& nowUtc);

// MLSD/MLST facts followed by a space and the name, without the line end:
// "type=file;size=12;modify=20260305140300;perm=rwdf; name".
// `perm` lists what the connection could do (letters of RFC 3659; other
// characters are dropped, and an empty perm leaves the fact out). Folders
// carry no size; a link that is not followed has type "OS.unix=slink".
// Only the `facts` selected are given, in this order.
QByteArray mlsxLine(const files::FsEntry& entry, const QString& name, const QString& perm,
                    MlstFacts facts = MlstFacts::all());

// YYYYMMDDHHMMSS in UTC, as MDTM and the modify fact give it.
QString ftpTimestamp(const QDateTime& utc);

} // namespace kv::ftp
