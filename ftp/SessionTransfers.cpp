// The transfer life cycle of a control session: a transfer accepted by its
// command waits for the data connection, runs, and ends with its reply, log
// line and event, or is aborted by ABOR or the session's end.

#include "ftp/ControlSession.h"
#include "ftp/DataChannel.h"
#include "ftp/EngineSettings.h"

#include "ftp/StreamSocket.h"

#include <QScopeGuard>

namespace kv::ftp {

void ControlSession::beginTransfer(std::unique_ptr<PendingTransfer> pending) {
    dropRetiredTransfers();
    if (!data_ || !data_->isConfigured()) {
        reply(Reply::CantOpenData);
        return;
    }
    pending_ = std::move(pending);
    idleTimer_.stop();
    data_->setProtection(dataProtection());
    reply(pending_->opening);
    // The client waits for this answer before it reads the data: it goes
    // now, so the client takes it in while the file is opened and sent.
    flushReplies();
    data_->open(); // ready() may arrive before this returns
}

void ControlSession::onDataReady(StreamSocket* socket) {
    if (!pending_ || closed_) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    const int linger = settings_.dataLingerTime;
    PendingTransfer& p = *pending_;
    switch (p.kind) {
    case PendingTransfer::Kind::Listing:
        transfer_ =
            new SendTransfer(socket, std::move(p.listing), linger, this, std::move(p.moreListing));
        break;
    case PendingTransfer::Kind::Download:
        transfer_ =
            new SendTransfer(socket, std::move(p.file), p.offset, p.size, p.ascii, linger, this);
        break;
    case PendingTransfer::Kind::Upload:
        transfer_ = new ReceiveTransfer(socket, std::move(p.file), p.ascii, linger, this);
        if (p.quota)
            static_cast<ReceiveTransfer*>(transfer_)->setQuota(std::move(p.quota));
        break;
    }
    if (p.kind != PendingTransfer::Kind::Listing)
        transfer_->setRateFlow(rateFlow(p.kind == PendingTransfer::Kind::Upload));
    connect(transfer_, &Transfer::finished, this, &ControlSession::onTransferFinished);
    connect(transfer_, &Transfer::debugLine, this, &ControlSession::debug);
    // One per session, made at its first transfer (and only with a bus):
    // it always tells of the transfer running now.
    if (!news_ && notifications()) {
        news_ = std::make_unique<session::TransferNews>(notifications(), [this] {
            return transferEvent(events::TransferOutcome::Running,
                                 transfer_ ? transfer_->bytes() : 0);
        });
        news_->setLimit([this] {
            if (!pending_ || pending_->kind == PendingTransfer::Kind::Listing)
                return qint64(0);
            session::RateFlow* flow = rateFlow(pending_->kind == PendingTransfer::Kind::Upload);
            return flow ? flow->limitBytesPerSecond() : 0;
        });
    }
    if (news_)
        news_->started();
    transfer_->setStallTimeout(settings_.timeout);
    transfer_->start();
}

session::RateFlow* ControlSession::rateFlow(bool upload) {
    if (!settings_.rates || !grant_)
        return nullptr;
    std::unique_ptr<session::RateFlow>& flow = rates_[upload ? 0 : 1];
    if (!flow) {
        session::RatePlace place{id_, grant_->accountId, remoteHost_, {}};
        if (settings_.isLocalClient)
            place.isLocal = [check = settings_.isLocalClient, peer = peer_] { return check(peer); };
        flow = settings_.rates->flow(std::move(place), upload ? session::RateDirection::Up
                                                              : session::RateDirection::Down);
    }
    return flow.get();
}

void ControlSession::onDataFailed(const QString& reason, Reply answer) {
    if (!pending_)
        return;
    debug(QStringLiteral("connessione dati non riuscita: %1").arg(reason));
    reply(answer);
    endTransfer();
}

void ControlSession::onTransferFinished(const TransferResult& result) {
    if (!pending_)
        return;
    // The finishing transfer is still on the stack below us.
    ++transferCallbacks_;
    const auto leave = qScopeGuard([this] { --transferCallbacks_; });
    using Outcome = TransferResult::Outcome;
    const PendingTransfer::Kind kind = pending_->kind;
    const QString path = pending_->path;
    switch (result.outcome) {
    case Outcome::Complete:
        reply(kind == PendingTransfer::Kind::Listing ? Reply::ListingComplete
                                                     : Reply::TransferComplete);
        break;
    case Outcome::ConnectionLost:
    case Outcome::Aborted:
        reply(Reply::TransferAborted, {path});
        break;
    case Outcome::WriteFailed:
        reply(Reply::TransferIncomplete);
        break;
    case Outcome::StorageFull:
        reply(Reply::InsufficientStorage);
        break;
    case Outcome::QuotaExceeded:
        reply(Reply::QuotaExceeded);
        break;
    case Outcome::ReadFailed:
        reply(Reply::ReadError,
              {result.replyDetail.isEmpty() ? result.detail : result.replyDetail});
        break;
    }
    if (kind != PendingTransfer::Kind::Listing) {
        logTransfer(*pending_, result.bytes,
                    result.complete() ? QStringLiteral("completo")
                                      : QStringLiteral("incompleto (%1)").arg(result.detail));
    } else if (!result.complete()) {
        debug(QStringLiteral("elenco non consegnato: %1").arg(result.detail));
    }
    tellTransferFinished(result.complete() ? events::TransferOutcome::Complete
                         : result.outcome == Outcome::Aborted ||
                                 result.outcome == Outcome::ConnectionLost
                             ? events::TransferOutcome::Aborted
                             : events::TransferOutcome::Failed,
                         result.bytes, result.detail, result.fileSize);
    endTransfer();
}

void ControlSession::logTransfer(const PendingTransfer& p, qint64 bytes, const QString& outcome) {
    log(QStringLiteral("%1 %2: %3 byte, %4")
            .arg(p.kind == PendingTransfer::Kind::Upload ? QStringLiteral("Upload")
                                                         : QStringLiteral("Download"),
                 p.path)
            .arg(bytes)
            .arg(outcome));
}

void ControlSession::endTransfer() {
    if (transfer_ && pending_)
        (pending_->kind == PendingTransfer::Kind::Upload ? receivedTotal_ : sentTotal_) +=
            transfer_->bytes();
    if (transfer_) {
        transfer_->disconnect(this);
        retired_.emplace_back(transfer_);
        transfer_ = nullptr;
    }
    if (news_)
        news_->stop();
    pending_.reset();
    restartIdleTimer();
    // Commands that arrived during the transfer run now.
    processInput();
}

session::TransferActivity ControlSession::Activity() const {
    session::TransferActivity a;
    a.sentTotal = sentTotal_;
    a.receivedTotal = receivedTotal_;
    if (!pending_)
        return a;
    if (pending_->kind == PendingTransfer::Kind::Listing) {
        // A listing shows no file of its own but its bytes count in the rates.
        a.sentTotal += transfer_ ? transfer_->bytes() : 0;
        return a;
    }
    const bool upload = pending_->kind == PendingTransfer::Kind::Upload;
    a.direction = upload ? session::TransferActivity::Direction::Upload
                         : session::TransferActivity::Direction::Download;
    a.path = pending_->path;
    // What this transfer will move: the file from the restart offset on.
    a.size = pending_->size < 0 ? -1 : pending_->size - pending_->offset;
    a.bytes = transfer_ ? transfer_->bytes() : 0;
    (upload ? a.receivedTotal : a.sentTotal) += a.bytes;
    return a;
}

void ControlSession::dropRetiredTransfers() {
    if (transferCallbacks_ == 0)
        retired_.clear();
}

void ControlSession::cmdAbor(const QString&) {
    if (abortHash()) {
        reply(Reply::AbortedOk);
        return;
    }
    if (!pending_) {
        if (data_)
            data_->reset();
        reply(Reply::AbortedOk);
        return;
    }
    const QString path = pending_->path;
    if (transfer_) {
        const TransferResult r = transfer_->abort();
        if (pending_->kind != PendingTransfer::Kind::Listing)
            logTransfer(*pending_, r.bytes, QStringLiteral("interrotto"));
        tellTransferFinished(events::TransferOutcome::Aborted, r.bytes, QStringLiteral("ABOR"));
        if (closed_)
            return;
    }
    if (data_)
        data_->reset();
    reply(Reply::TransferAborted, {path});
    reply(Reply::AbortedOk);
    endTransfer();
}

} // namespace kv::ftp
