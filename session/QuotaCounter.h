#pragma once
// Counts the regular files under some folders: their sizes and their number,
// each disk file once (by device and inode, also when folders overlap or a
// file has several names). Links are not followed. It runs either at once
// (the command line) or a slice of entries at a time on the event loop, so a
// large tree never freezes the server.

#include "session/QuotaKeeper.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <dirent.h>
#include <functional>

namespace kv::session {

class QuotaCounter {
public:
    using DiskId = QPair<quint64, quint64>; // device, inode
    explicit QuotaCounter(const QStringList& folders);
    ~QuotaCounter();
    QuotaCounter(const QuotaCounter&) = delete;
    QuotaCounter& operator=(const QuotaCounter&) = delete;

    // Counts up to `entries` more entries; true once everything is counted.
    bool step(int entries);
    // Counts everything now.
    void runToEnd();
    // Counts on the event loop, one slice per turn, then calls `done`.
    void runOnLoop(QObject* context, std::function<void()> done);

    const QuotaTally& tally() const { return tally_; }
    // The folders it went through.
    const QSet<DiskId>& folders() const { return folderIds_; }

private:
    void openNext();

    QList<QByteArray> pending_; // folders still to read
    DIR* dir_ = nullptr;
    QByteArray dirPath_;
    QSet<DiskId> seenFiles_;
    QSet<DiskId> folderIds_;
    QuotaTally tally_;
};

} // namespace kv::session
