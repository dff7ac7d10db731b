// Data connection set-up (PASV, EPSV, PORT, EPRT) and the commands that move
// data (LIST, NLST, MLSD, RETR, STOR, APPE, STOU), plus REST and ABOR.

#include "engine/ControlSession.h"
#include "engine/DataChannel.h"
#include "engine/EngineSettings.h"
#include "engine/HostAddresses.h"
#include "engine/Listing.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpSocket>

namespace kv::engine {

namespace {

// Unique names for STOU are tried up to this many times.
constexpr int kMaxUniqueTries = 1000;

std::optional<quint16> parsePort(const QString& text) {
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

} // namespace

DataChannel& ControlSession::dataChannel() {
    if (!data_) {
        data_ = new DataChannel(peer_, settings_.limits, this);
        connect(data_, &DataChannel::ready, this, &ControlSession::onDataReady);
        connect(data_, &DataChannel::failed, this, &ControlSession::onDataFailed);
        connect(data_, &DataChannel::debugLine, this, &ControlSession::debug);
    }
    data_->setDebugging(settings_.debugMode > 0);
    return *data_;
}

void ControlSession::cmdPasv(bool extended, const QString& arg) {
    const QString option = arg.trimmed().toUpper();
    const QHostAddress local = plainAddress(socket_->localAddress());
    const bool v4 = local.protocol() == QAbstractSocket::IPv4Protocol;
    if (extended && option == u"ALL") {
        reply(QStringLiteral("200 EPSV ALL command successful."));
        return;
    }
    if (extended && !option.isEmpty() && option != (v4 ? u"1" : u"2")) {
        reply(QStringLiteral("522 Network protocol not supported, use (%1)").arg(v4 ? 1 : 2));
        return;
    }
    if (!extended && !v4) {
        reply(QStringLiteral("425 Passive mode needs IPv4; use EPSV."));
        return;
    }
    // Listen on the address the client reached us on, so the reply names an
    // address the client can connect to.
    const quint16 port = dataChannel().listenPassive(local);
    if (port == 0) {
        reply(Reply::CantOpenData);
        return;
    }
    if (settings_.debugMode > 0)
        debug(QStringLiteral("passive data port %1 on %2").arg(port).arg(addressText(local)));
    if (extended) {
        reply(QStringLiteral("229 Entering Extended Passive Mode (|||%1|)").arg(port));
        return;
    }
    const QString host = local.toString().replace(u'.', u',');
    reply(Reply::EnteringPassive,
          {QStringLiteral("%1,%2,%3").arg(host).arg(port >> 8).arg(port & 0xFF)});
}

void ControlSession::cmdPort(bool extended, const QString& arg) {
    QHostAddress address;
    std::optional<quint16> port;
    if (extended) {
        // EPRT |proto|address|port| with any printable delimiter.
        const QString a = arg.trimmed();
        const QStringList parts = a.isEmpty() ? QStringList() : a.split(a.front());
        if (parts.size() != 5 || !parts[0].isEmpty() || !parts[4].isEmpty()) {
            reply(Reply::SyntaxError);
            return;
        }
        if (parts[1] != u"1" && parts[1] != u"2") {
            reply(QStringLiteral("522 Network protocol not supported, use (1,2)"));
            return;
        }
        const bool parsed = address.setAddress(parts[2]);
        const auto wanted =
            parts[1] == u"1" ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol;
        if (!parsed || address.protocol() != wanted) {
            reply(Reply::SyntaxError);
            return;
        }
        port = parsePort(parts[3]);
    } else {
        const QStringList parts = arg.trimmed().split(u',');
        bool ok = parts.size() == 6;
        uint bytes[6] = {};
        for (int i = 0; ok && i < 6; ++i) {
            bytes[i] = parts[i].trimmed().toUInt(&ok);
            ok = ok && bytes[i] <= 255;
        }
        if (!ok) {
            reply(Reply::SyntaxError);
            return;
        }
        address = QHostAddress((bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3]);
        port = parsePort(QString::number(bytes[4] * 256 + bytes[5]));
    }
    if (!port) {
        reply(Reply::SyntaxError);
        return;
    }
    // No FTP bounce: data connections only go back to the client itself, and
    // never to a privileged port.
    if (!sameHost(address, peer_) || *port < 1024) {
        log(QStringLiteral("refused data connection to %1 port %2")
                .arg(addressText(address))
                .arg(*port));
        reply(QStringLiteral("500 Illegal %1 command.")
                  .arg(extended ? QStringLiteral("EPRT") : QStringLiteral("PORT")));
        return;
    }
    dataChannel().setActive(address, *port);
    reply(Reply::CommandOk, {extended ? QStringLiteral("EPRT") : QStringLiteral("PORT")});
}

void ControlSession::cmdRest(const QString& arg) {
    bool ok = false;
    const qint64 offset = arg.trimmed().toLongLong(&ok);
    if (!ok || offset < 0) {
        reply(Reply::SyntaxError);
        return;
    }
    restOffset_ = offset;
    reply(Reply::Restarting, {QString::number(offset)});
}

void ControlSession::cmdList(CommandId kind, const QString& arg) {
    // "LIST -la dir": leading options are accepted and ignored.
    QString target = arg;
    if (kind != CommandId::Mlsd) {
        while (target.startsWith(u'-')) {
            const qsizetype space = target.indexOf(u' ');
            target = space < 0 ? QString() : target.mid(space + 1).trimmed();
        }
    }
    // "NLST *.txt" (mget of command-line clients): a wildcard in the last
    // name filters the folder above it, unless a file has that very name.
    QString folderPart;
    std::optional<QRegularExpression> filter;
    const qsizetype slash = std::max(target.lastIndexOf(u'/'), target.lastIndexOf(u'\\'));
    const QString lastName = target.mid(slash + 1);
    if (kind != CommandId::Mlsd && (lastName.contains(u'*') || lastName.contains(u'?')) &&
        !vfs_.resolve(cwd_, target, true).exists) {
        filter = QRegularExpression(QRegularExpression::wildcardToRegularExpression(
            lastName, QRegularExpression::UnanchoredWildcardConversion));
        folderPart = slash < 0 ? QString() : target.left(slash + 1);
        target = folderPart;
    }
    const bool named = !target.trimmed().isEmpty();
    const std::optional<ResolvedPath> p = resolveExisting(named ? target : cwd_);
    if (!p)
        return;
    // NLST of a named folder gives paths as the client wrote them.
    QString prefix;
    if (kind == CommandId::Nlst && named && p->isDir) {
        prefix = target;
        if (!prefix.endsWith(u'/'))
            prefix += u'/';
    }

    QByteArray out;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (p->isDir) {
        const std::optional<QList<FsEntry>> entries = vfs_.list(*p);
        if (!entries) {
            reply(QStringLiteral("550 %1: Cannot read directory.").arg(named ? target : cwd_));
            return;
        }
        out.reserve(entries->size() * 64);
        for (const FsEntry& e : *entries) {
            if (filter && !filter->match(e.name).hasMatch())
                continue;
            if (kind == CommandId::List)
                out += listLine(e, now);
            else if (kind == CommandId::Nlst)
                out += (prefix + e.name).toUtf8();
            else
                out += mlsxLine(e, e.name, permFacts(e));
            out += "\r\n";
        }
    } else {
        if (kind == CommandId::Mlsd) {
            reply(QStringLiteral("501 %1: Not a directory.").arg(target));
            return;
        }
        const std::optional<FsEntry> e = vfs_.stat(*p);
        if (!e) {
            reply(Reply::NoSuchFile, {target});
            return;
        }
        out += kind == CommandId::List ? listLine(*e, now) : target.toUtf8();
        out += "\r\n";
    }
    auto pending = std::make_unique<PendingTransfer>();
    pending->kind = PendingTransfer::Kind::Listing;
    pending->listing = std::move(out);
    pending->path = p->virtualPath;
    pending->opening =
        (data_ && data_->isPassive())
            ? settings_.replies.format(Reply::PassiveOpen)
            : settings_.replies.format(Reply::OpeningAscii, {QStringLiteral(" for file list")});
    beginTransfer(std::move(pending));
}

void ControlSession::cmdRetr(const QString& arg) {
    const qint64 offset = restOffset_;
    restOffset_ = 0;
    const std::optional<ResolvedPath> p = resolveExisting(arg);
    if (!p)
        return;
    if (p->isDir) {
        reply(QStringLiteral("550 %1: Not a regular file.").arg(arg));
        return;
    }
    if (refusedBy(&EngineEvents::DownloadCheck, p->virtualPath))
        return;
    auto file = std::make_unique<QFile>(p->realPath);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        reply(QStringLiteral("550 %1: %2").arg(arg, file->errorString()));
        return;
    }
    const qint64 size = file->size();
    if (offset > size) {
        reply(QStringLiteral("554 Restart offset %1 is beyond the end of the file.").arg(offset));
        return;
    }
    auto pending = std::make_unique<PendingTransfer>();
    pending->kind = PendingTransfer::Kind::Download;
    pending->file = std::move(file);
    pending->offset = offset;
    pending->ascii = asciiType_;
    pending->path = p->virtualPath;
    const QString detail = QStringLiteral(" for %1 (%2 bytes)").arg(arg).arg(size - offset);
    pending->opening =
        settings_.replies.format(asciiType_ ? Reply::OpeningAscii : Reply::OpeningBinary, {detail});
    beginTransfer(std::move(pending));
}

void ControlSession::cmdStore(CommandId kind, const QString& arg) {
    const qint64 offset = kind == CommandId::Stor ? restOffset_ : 0;
    restOffset_ = 0;
    std::optional<ResolvedPath> p;
    QString shownName = arg;
    if (kind == CommandId::Stou) {
        const QString base = arg.trimmed().isEmpty() ? QStringLiteral("upload") : arg;
        for (int i = 0; i < kMaxUniqueTries; ++i) {
            const QString candidate = i == 0 ? base : QStringLiteral("%1.%2").arg(base).arg(i);
            ResolvedPath r = vfs_.resolve(cwd_, candidate, false);
            if (!r.ok() || !r.exists) {
                shownName = candidate;
                break;
            }
        }
    }
    p = resolveNew(shownName);
    if (!p)
        return;
    if (p->isMountPoint || p->virtualPath == u"/") {
        reply(Reply::AccessDenied);
        return;
    }
    if (p->exists && p->isDir) {
        reply(QStringLiteral("550 %1: Is a directory.").arg(shownName));
        return;
    }
    if (kind == CommandId::Stou && p->exists) {
        reply(QStringLiteral("550 %1: Cannot find a unique name.").arg(shownName));
        return;
    }
    if (refusedBy(&EngineEvents::UploadCheck, p->virtualPath))
        return;

    auto file = std::make_unique<QFile>(p->realPath);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (kind == CommandId::Appe)
        mode |= QIODevice::Append;
    else if (kind == CommandId::Stou)
        mode |= QIODevice::NewOnly;
    else if (offset > 0)
        mode = QIODevice::ReadWrite | QIODevice::Unbuffered; // keep what is already there
    else
        mode |= QIODevice::Truncate;
    if (offset > 0 && QFileInfo(p->realPath).size() < offset) {
        reply(QStringLiteral("554 Restart offset %1 is beyond the end of the file.").arg(offset));
        return;
    }
    // A resumed upload replaces everything after the offset, so the result
    // is the first `offset` bytes followed by exactly what the client sends.
    if (!file->open(mode) || (offset > 0 && (!file->resize(offset) || !file->seek(offset)))) {
        reply(QStringLiteral("550 %1: %2").arg(shownName, file->errorString()));
        return;
    }
    auto pending = std::make_unique<PendingTransfer>();
    pending->kind = PendingTransfer::Kind::Upload;
    pending->file = std::move(file);
    pending->ascii = asciiType_;
    pending->path = p->virtualPath;
    if (kind == CommandId::Stou) {
        pending->opening = QStringLiteral("150 FILE: %1").arg(shownName);
    } else {
        pending->opening =
            settings_.replies.format(asciiType_ ? Reply::OpeningAscii : Reply::OpeningBinary,
                                     {QStringLiteral(" for %1").arg(shownName)});
    }
    beginTransfer(std::move(pending));
}

void ControlSession::beginTransfer(std::unique_ptr<PendingTransfer> pending) {
    dropRetiredTransfers();
    if (!data_ || !data_->isConfigured()) {
        reply(Reply::CantOpenData);
        return;
    }
    pending_ = std::move(pending);
    idleTimer_.stop();
    reply(pending_->opening);
    data_->open(); // ready() may arrive before this returns
}

void ControlSession::onDataReady(QTcpSocket* socket) {
    if (!pending_ || closed_) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    const int linger = settings_.dataLingerTime;
    PendingTransfer& p = *pending_;
    switch (p.kind) {
    case PendingTransfer::Kind::Listing:
        transfer_ = new SendTransfer(socket, std::move(p.listing), linger, this);
        break;
    case PendingTransfer::Kind::Download:
        transfer_ = new SendTransfer(socket, std::move(p.file), p.offset, p.ascii, linger, this);
        break;
    case PendingTransfer::Kind::Upload:
        transfer_ = new ReceiveTransfer(socket, std::move(p.file), p.ascii, linger, this);
        break;
    }
    connect(transfer_, &Transfer::finished, this, &ControlSession::onTransferFinished);
    connect(transfer_, &Transfer::debugLine, this, &ControlSession::debug);
    transfer_->start();
}

void ControlSession::onDataFailed(const QString& reason) {
    if (!pending_)
        return;
    debug(QStringLiteral("data connection failed: %1").arg(reason));
    reply(Reply::CantOpenData);
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
    case Outcome::ReadFailed:
        reply(QStringLiteral("451 Read error: %1").arg(result.detail));
        break;
    }
    if (kind != PendingTransfer::Kind::Listing) {
        const bool upload = kind == PendingTransfer::Kind::Upload;
        log(QStringLiteral("%1 %2: %3 bytes, %4")
                .arg(upload ? QStringLiteral("Upload") : QStringLiteral("Download"), path)
                .arg(result.bytes)
                .arg(result.complete() ? QStringLiteral("complete")
                                       : QStringLiteral("incomplete (%1)").arg(result.detail)));
        if (events_ && upload)
            events_->OtherNoticeB(*this, path, result.bytes, result.complete());
        else if (events_ && result.complete())
            events_->OtherNoticeA(*this, path, result.bytes);
    } else if (!result.complete()) {
        debug(QStringLiteral("listing not delivered: %1").arg(result.detail));
    }
    endTransfer();
}

void ControlSession::endTransfer() {
    if (transfer_) {
        transfer_->disconnect(this);
        retired_.emplace_back(transfer_);
        transfer_ = nullptr;
    }
    pending_.reset();
    restartIdleTimer();
    // Commands that arrived during the transfer run now.
    processInput();
}

void ControlSession::dropRetiredTransfers() {
    if (transferCallbacks_ == 0)
        retired_.clear();
}

void ControlSession::cmdAbor() {
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
            log(QStringLiteral("%1 %2: %3 bytes, aborted")
                    .arg(pending_->kind == PendingTransfer::Kind::Upload
                             ? QStringLiteral("Upload")
                             : QStringLiteral("Download"),
                         path)
                    .arg(r.bytes));
        if (events_ && pending_->kind == PendingTransfer::Kind::Upload)
            events_->OtherNoticeB(*this, path, r.bytes, false);
        if (closed_)
            return;
    }
    if (data_)
        data_->reset();
    reply(Reply::TransferAborted, {path});
    reply(Reply::AbortedOk);
    endTransfer();
}

} // namespace kv::engine
