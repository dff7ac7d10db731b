// What a control session tells the event subscribers: who it is, and how its
// transfers start, move and end.

#include "ftp/ControlSession.h"

#include "ftp/EngineSettings.h"
#include "ftp/StreamSocket.h"

namespace kv::ftp {

events::ServerEvents* ControlSession::notifications() const {
    return settings_.notifications;
}

events::SessionInfo ControlSession::sessionInfo() const {
    events::SessionInfo info;
    info.id = id_;
    info.address = remoteHost_;
    info.login = loggedIn_ ? userName_ : QString();
    info.protocol =
        socket_ && socket_->isEncrypted() ? events::Protocol::Ftps : events::Protocol::Ftp;
    return info;
}

events::TransferEvent ControlSession::transferEvent(events::TransferOutcome outcome, qint64 bytes,
                                                    const QString& reason, qint64 fileSize) const {
    const PendingTransfer& p = *pending_;
    events::TransferEvent e;
    e.session = sessionInfo();
    switch (p.kind) {
    case PendingTransfer::Kind::Listing:
        e.kind = events::TransferKind::Listing;
        break;
    case PendingTransfer::Kind::Download:
        e.kind = events::TransferKind::Download;
        break;
    case PendingTransfer::Kind::Upload:
        e.kind = events::TransferKind::Upload;
        break;
    }
    e.clientPath = p.path;
    e.diskPath = p.diskPath;
    e.bytes = bytes;
    e.size = p.size < 0 ? -1 : p.size - p.offset;
    e.outcome = outcome;
    e.reason = reason;
    e.fileSize = fileSize;
    return e;
}

void ControlSession::tellTransferFinished(events::TransferOutcome outcome, qint64 bytes,
                                          const QString& reason, qint64 fileSize) {
    if (!pending_ || !news_)
        return;
    news_->finished(transferEvent(outcome, bytes, reason, fileSize));
}

} // namespace kv::ftp
