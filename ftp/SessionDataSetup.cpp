// Data connection set-up of a control session: PASV and EPSV listen on the
// address the client reached (on a port of the operator's range when there
// is one), a PASV reply names the public address to a client from outside,
// and PORT and EPRT connect back to the client only. Each of them sends a
// fresh TLS session ticket issued to the logged-in account and address.
// Clients on this machine that look for the passive answer too late (curl)
// get it a little later from then on.

#include "ftp/ControlSession.h"

#include "ftp/DataChannel.h"
#include "ftp/EngineSettings.h"
#include "ftp/ReplyPacer.h"
#include "net/HostAddresses.h"

#include "ftp/StreamSocket.h"

namespace kv::ftp {

namespace {

// curl's wait, when the answer was there before it looked, ends its poll of
// at most a second: a connection this much later than the answer is that.
constexpr qint64 kLateLookMinMs = 950;
constexpr qint64 kLateLookMaxMs = 1150;

// The ticket for the coming data connection, issued to whoever is logged in.
void issueTicketFor(StreamSocket& control, const files::LoginGrant* grant,
                    const QHostAddress& client) {
    if (grant)
        control.issueSessionTicket(grant->accountId, grant->login, client);
    else
        control.issueSessionTicket(files::kNoAccountId, QString(), QHostAddress());
}

} // namespace

DataChannel& ControlSession::dataChannel() {
    if (!data_) {
        data_ = new DataChannel(peer_, settings_.limits, this);
        connect(data_, &DataChannel::ready, this, &ControlSession::onDataReady);
        connect(data_, &DataChannel::failed, this, &ControlSession::onDataFailed);
        connect(data_, &DataChannel::debugLine, this, &ControlSession::debug);
        connect(data_, &DataChannel::clientConnected, this,
                &ControlSession::onPassiveClientConnected);
    }
    data_->setDebugging(settings_.debugMode > 0);
    return *data_;
}

void ControlSession::cmdPasv(const QString&) {
    if (net::plainAddress(socket_->localAddress()).protocol() != QAbstractSocket::IPv4Protocol) {
        reply(Reply::PassiveNeedsIPv4);
        return;
    }
    listenPassive(false);
}

void ControlSession::cmdEpsv(const QString& arg) {
    const bool v4 =
        net::plainAddress(socket_->localAddress()).protocol() == QAbstractSocket::IPv4Protocol;
    switch (parseEpsvArgument(arg, v4)) {
    case EpsvRequest::All:
        reply(Reply::EpsvAll);
        break;
    case EpsvRequest::WrongProtocol:
        reply(Reply::ProtocolNotSupported, {v4 ? QStringLiteral("1") : QStringLiteral("2")});
        break;
    case EpsvRequest::Listen:
        listenPassive(true);
        break;
    }
}

void ControlSession::listenPassive(bool extended) {
    // Listen on the address the client reached us on, so the reply names an
    // address the client can connect to.
    const QHostAddress local = net::plainAddress(socket_->localAddress());
    const PassiveSettings& passive = settings_.passive;
    const PassivePort opened = dataChannel().listenPassive(local, passive, extended);
    const quint16 port = opened.port;
    if (opened.rangeBusy) {
        log(QStringLiteral("tutte le porte passive %1-%2 sono in uso")
                .arg(passive.portFirst)
                .arg(passive.portLast));
        reply(Reply::PassivePortsBusy);
        return;
    }
    if (port == 0) {
        reply(Reply::CantOpenData);
        return;
    }
    if (settings_.debugMode > 0)
        debug(QStringLiteral("porta dati passiva %1 su %2").arg(port).arg(net::addressText(local)));
    // The client may connect as soon as it reads the reply: under PROT P its
    // handshake is answered from then on, before the transfer's command.
    data_->setProtection(dataProtection());
    Reply id = Reply::EnteringExtendedPassive;
    QStringList args{QString::number(port)};
    if (!extended) {
        // A client from outside reaches this machine through the router's
        // public address, which forwards the range here; the local network
        // does not.
        const bool outside =
            !publicAddress_.isNull() && settings_.isLocalClient && !settings_.isLocalClient(peer_);
        const QHostAddress named = outside ? publicAddress_ : local;
        const QString host = named.toString().replace(u'.', u',');
        id = Reply::EnteringPassive;
        args = {QStringLiteral("%1,%2,%3").arg(host).arg(port >> 8).arg(port & 0xFF)};
    }
    // Only a client on this machine can look for the answer after it is
    // there; over a network the round trip alone outlasts the pacing.
    const bool sameMachine = peer_.isLoopback() || peer_ == local;
    ReplyPacer* pacer = settings_.replyPacer;
    const bool paced = sameMachine && pacer && pacer->isLateLooker(peer_);
    answerNotBefore(paced ? settings_.limits.passiveReplyDelayUs : 0,
                    [this, id, args, sameMachine] {
                        // A TLS 1.3 client spends a ticket per data connection: one more,
                        // sent with the reply (see EngineLimits::passiveReplyDelayUs).
                        issueTicketFor(*socket_, grant_.get(), peer_);
                        reply(id, args);
                        passiveAnsweredAt_ = sameMachine ? ReplyPacer::now() : 0;
                    });
}

void ControlSession::onPassiveClientConnected() {
    // curl, finding the answer there before it looked, connects when its
    // one-second wait ends: from then on this address's answers are paced.
    const qint64 answered = std::exchange(passiveAnsweredAt_, 0);
    if (answered == 0 || !settings_.replyPacer)
        return;
    const qint64 ms = (ReplyPacer::now() - answered) / 1'000'000;
    if (ms >= kLateLookMinMs && ms <= kLateLookMaxMs)
        settings_.replyPacer->noteLateLooker(peer_);
}

void ControlSession::cmdPort(const QString& arg) {
    connectActive(parsePortArgument(arg), QStringLiteral("PORT"));
}

void ControlSession::cmdEprt(const QString& arg) {
    connectActive(parseEprtArgument(arg), QStringLiteral("EPRT"));
}

void ControlSession::connectActive(const DataAddress& target, const QString& verb) {
    if (target.error == DataAddressError::Protocol) {
        reply(Reply::ProtocolNotSupported, {QStringLiteral("1,2")});
        return;
    }
    if (!target.ok()) {
        reply(Reply::SyntaxError);
        return;
    }
    // No FTP bounce: data connections only go back to the client itself, and
    // never to a privileged port.
    const QHostAddress host = activeTarget(target, peer_);
    if (!net::sameHost(host, peer_) || target.port < 1024) {
        log(QStringLiteral("connessione dati verso %1 porta %2 rifiutata")
                .arg(net::addressText(host))
                .arg(target.port));
        reply(Reply::IllegalDataCommand, {verb});
        return;
    }
    dataChannel().setActive(host, target.port);
    issueTicketFor(*socket_, grant_.get(), peer_);
    reply(Reply::CommandOk, {verb});
}

} // namespace kv::ftp
