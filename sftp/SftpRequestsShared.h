#pragma once
// What the parts of SftpRequests share: an open handle, and how the file
// layer's answers read on the wire. Private to sftp/SftpRequests*.cpp.

#include "sftp/SftpRequests.h"

#include <QFile>

namespace kv::sftp {

struct SftpRequests::Handle {
    bool isFolder = false;
    std::unique_ptr<QFile> file;
    bool append = false;
    TransferNote note;
    bool moved = false; // a READ or WRITE went through: the transfer was reported
    QList<files::FsEntry> entries;
    qsizetype nextEntry = 0;
};

// The status packet a file-layer outcome is answered with.
QByteArray status(quint32 id, files::FileError e);
// What a folder entry shows of itself: attributes, and an "ls -l" line.
Attributes attributesOf(const files::FsEntry& e);
QByteArray longNameOf(const files::FsEntry& e);

} // namespace kv::sftp
