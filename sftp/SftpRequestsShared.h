#pragma once
// What the parts of SftpRequests share: an open handle, and how the file
// layer's answers read on the wire. Private to sftp/SftpRequests*.cpp.

#include "sftp/SftpRequests.h"

namespace kv::sftp {

struct SftpRequests::Handle {
    // An open file: the transfer every byte read or written passes through.
    std::unique_ptr<session::FileTransfer> transfer;
    // An open folder: its client path and the entries not yet read.
    bool isFolder = false;
    QString folderPath;
    QList<files::FsEntry> entries;
    qsizetype nextEntry = 0;
};

// The status packet a file-layer outcome is answered with.
QByteArray status(quint32 id, files::FileError e);
// What a folder entry shows of itself: attributes, and an "ls -l" line.
Attributes attributesOf(const files::FsEntry& e);
QByteArray longNameOf(const files::FsEntry& e);

} // namespace kv::sftp
