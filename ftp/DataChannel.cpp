#include "ftp/DataChannel.h"

#include "ftp/SocketErrorText.h"

#include "ftp/DescriptorSocket.h"
#include "ftp/StreamSocket.h"
#include "ftp/TlsSocket.h"
#include "net/HostAddresses.h"

#include <QRandomGenerator>
#include <QTcpSocket>

#include <algorithm>

#include <unistd.h>

namespace kv::ftp {

namespace {

// Random ports tried before giving up (or, without a configured range,
// before the kernel is left to choose one).
constexpr int kPortTries = 32;

// The ports to try, in random order: every port of a range this small or
// smaller, so a busy range is known to be busy; else kPortTries random ones.
QList<int> portsToTry(int first, int last) {
    const int span = last - first + 1;
    QList<int> ports;
    if (span <= kPortTries) {
        for (int port = first; port <= last; ++port)
            ports.append(port);
        std::shuffle(ports.begin(), ports.end(), *QRandomGenerator::global());
        return ports;
    }
    for (int i = 0; i < kPortTries; ++i)
        ports.append(first + int(QRandomGenerator::global()->bounded(span)));
    return ports;
}

// PASVs served by one listener before a new random port is taken: few
// enough that a client's connections to one port within TIME_WAIT's minute
// stay far below its ephemeral range (about 28,000 ports) at any rate.
constexpr int kListenerReuses = 200;

// Queued connections turned away at most when a PASV reuses an unused port
// (any further ones are turned away as the loop reports them).
constexpr int kStaleConnections = 64;
} // namespace

DataChannel::DataChannel(const QHostAddress& clientAddress, const EngineLimits& limits,
                         QObject* parent)
    : QObject(parent), client_(net::plainAddress(clientAddress)),
      portFirst_(std::clamp(limits.passivePortFirst, 1024, 65535)),
      portLast_(std::clamp(limits.passivePortLast, portFirst_, 65535)) {
    timeout_.setSingleShot(true);
    timeout_.setInterval(limits.dataConnectTimeoutMs);
    connect(&timeout_, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("nessuna connessione dati entro il tempo previsto")); });
}

DataChannel::~DataChannel() {
    closeListener();
    // A connection the client made for a transfer it never asked for.
    if (accepted_ >= 0)
        ::close(accepted_);
}

QTcpSocket* DataChannel::createSocket() {
    return new QTcpSocket(this);
}

PassivePort DataChannel::listenPassive(const QHostAddress& local, const PassiveSettings& passive,
                                       bool extended) {
    reset();
    extended_ = extended;
    if (reuseListener(local, passive)) {
        // The last PASV went unused: a connection the client made for it
        // and abandoned may still be queued, and must not become this
        // PASV's. Turn away what is queued before the client is told it may
        // connect again. (After a transfer nothing of the client's is left,
        // so the common case costs no system call.)
        if (std::exchange(passiveUnused_, false))
            for (int i = 0; i < kStaleConnections && listener_->acceptOne(); ++i) {
            }
        mode_ = Mode::Passive;
        passiveUnused_ = true;
        return {listener_->serverPort(), false};
    }
    if (!listener_) {
        listener_ = new PassiveListener(this);
        connect(listener_, &PassiveListener::accepted, this, &DataChannel::onIncoming);
        connect(listener_, &PassiveListener::resetBeforeAccept, this,
                &DataChannel::onResetBeforeAccept);
    }
    listener_->close();
    reuses_ = 0;
    // The router forwards only the operator's range: never a port outside it.
    const PassivePort opened =
        passive.hasRange() ? listenInRange(local, passive.portFirst, passive.portLast, false)
                           : listenInRange(local, portFirst_, portLast_, true);
    if (opened.port == 0) {
        closeListener();
        return opened;
    }
    keepsOperatorsPort_ = passive.hasRange();
    mode_ = Mode::Passive;
    passiveUnused_ = true;
    return opened;
}

bool DataChannel::reuseListener(const QHostAddress& local, const PassiveSettings& passive) {
    // The session's listener stays open between PASV commands: a transfer
    // then costs no socket, bind, listen and close of its own, and no socket
    // notifier made and dropped. The port is kept only on the same address,
    // inside the operator's range, and only for so many transfers: each
    // connection to it leaves a TIME_WAIT entry behind, and a client may only
    // have so many of them to one port, so a busy session moves on to a new
    // random port now and then.
    if (!listener_ || !listener_->isListening() || listener_->serverAddress() != local ||
        reuses_ >= kListenerReuses)
        return false;
    if (passive.hasRange())
        return false; // see keepsOperatorsPort_
    ++reuses_;
    return true;
}

PassivePort DataChannel::listenInRange(const QHostAddress& local, int first, int last,
                                       bool anyPortLast) {
    // A port in use is skipped for another one; any other failure (address
    // gone, no descriptors left) would fail on every port alike.
    for (const int port : portsToTry(first, last)) {
        if (listener_->listen(local, quint16(port)))
            return {listener_->serverPort(), false};
        if (listener_->serverError() != QAbstractSocket::AddressInUseError)
            return {};
    }
    if (anyPortLast && listener_->listen(local, 0))
        return {listener_->serverPort(), false};
    return {0, !anyPortLast};
}

void DataChannel::setActive(const QHostAddress& address, quint16 port) {
    closeListener();
    mode_ = Mode::Active;
    activeAddress_ = address;
    activePort_ = port;
}

void DataChannel::onResetBeforeAccept() {
    // The client reset the connection before it could be accepted: there is
    // nobody to check and nothing will come on it, so the transfer fails at
    // once instead of waiting for a connection that never comes.
    if (mode_ == Mode::Passive && accepted_ < 0 && !handshaking_ && !protected_)
        fail(QStringLiteral("connessione dati interrotta prima dell'uso"));
}

void DataChannel::onIncoming(int descriptor, const QHostAddress& peer) {
    const bool expected =
        mode_ == Mode::Passive && accepted_ < 0 && !handshaking_ && !protected_ && !earlyFailure_;
    if (!expected || !net::sameHost(peer, client_)) {
        // Only the control connection's client gets the data port, once per
        // PASV; the listener stays open, so anything else is turned away.
        Q_EMIT debugLine(
            QStringLiteral("connessione dati da %1 rifiutata").arg(net::addressText(peer)));
        ::close(descriptor);
        return;
    }
    if (debugging_)
        Q_EMIT debugLine(
            QStringLiteral("passive data connection from %1").arg(net::addressText(peer)));
    accepted_ = descriptor;
    Q_EMIT clientConnected();
    if (wanted_ || protection_)
        handOver(); // under TLS: the handshake starts now, the transfer when asked
}

void DataChannel::setProtection(std::optional<DataProtection> protection) {
    const bool changed = protection.has_value() != protection_.has_value();
    protection_ = protection;
    if (!changed || (!handshaking_ && !protected_))
        return;
    // PROT changed between PASV and the transfer, after the client had
    // connected with TLS: that connection cannot carry the transfer.
    failWhenWanted(QStringLiteral("livello di protezione cambiato dopo la connessione"),
                   Reply::CantOpenData);
}

void DataChannel::open() {
    wanted_ = true;
    timeout_.start();
    if (earlyFailure_) {
        const auto [reason, answer] = *std::exchange(earlyFailure_, std::nullopt);
        fail(reason, answer);
        return;
    }
    if (mode_ == Mode::Passive) {
        if (protected_)
            handOverProtected();
        else if (handshaking_)
            return; // handed over once its handshake is done
        else if (accepted_ >= 0)
            handOver();
        else if (listener_)
            // Clients connect before they send the command: the connection
            // taken now starts the transfer in this pass of the loop rather
            // than after another wait for the listener's turn.
            listener_->acceptOne();
        return;
    }
    if (mode_ != Mode::Active) {
        fail(QStringLiteral("nessuna connessione dati preparata (PASV o PORT)"));
        return;
    }
    socket_ = createSocket();
    connect(socket_, &QTcpSocket::connected, this, [this] {
        if (debugging_)
            Q_EMIT debugLine(QStringLiteral("active data connection to %1:%2")
                                 .arg(net::addressText(activeAddress_))
                                 .arg(activePort_));
        handOver();
    });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (socket_ && socket_->state() != QAbstractSocket::ConnectedState)
            fail(socketErrorText(socket_->error()));
    });
    socket_->connectToHost(activeAddress_, activePort_);
}

void DataChannel::handOver() {
    if (wanted_) {
        releaseOperatorsPort();
        timeout_.stop();
    }
    QTcpSocket* tcp = nullptr;
    if (accepted_ >= 0) {
        const int fd = std::exchange(accepted_, -1);
        passiveUnused_ = false;
        if (!protection_) {
            // A plain passive connection is driven from its descriptor.
            wanted_ = false;
            mode_ = Mode::None;
            Q_EMIT ready(new DescriptorSocket(fd, nullptr));
            return;
        }
        tcp = new QTcpSocket;
        if (!tcp->setSocketDescriptor(fd)) {
            ::close(fd);
            delete tcp;
            failWhenWanted(QStringLiteral("connessione dati persa prima dell'uso"),
                           Reply::CantOpenData);
            return;
        }
    } else {
        tcp = std::exchange(socket_, nullptr);
        tcp->disconnect(this);
        tcp->setParent(nullptr);
    }
    if (protection_) {
        protect(tcp);
        return;
    }
    wanted_ = false;
    mode_ = Mode::None;
    Q_EMIT ready(new PlainSocket(tcp, nullptr));
}

void DataChannel::protect(QTcpSocket* tcp) {
    // The server is the TLS server whichever side connected.
    auto* tls = new TlsSocket(tcp, *protection_->context, TlsSocket::Role::Data,
                              protection_->handshakeMs, this);
    handshaking_ = tls;
    connect(tls, &TlsSocket::encrypted, this, [this, tls] { onProtected(tls); });
    // Until it is handed over: a connection that breaks before its transfer
    // is asked for fails that transfer when it is.
    connect(tls, &StreamSocket::failed, this,
            [this](const QString& reason) { failWhenWanted(reason, Reply::DataTlsFailed); });
    connect(tls, &StreamSocket::remoteClosed, this, [this] {
        failWhenWanted(QStringLiteral("chiusa durante la negoziazione TLS"), Reply::DataTlsFailed);
    });
}

void DataChannel::onProtected(TlsSocket* tls) {
    handshaking_ = nullptr;
    protected_ = tls;
    if (protection_->requireReuse && !tls->resumedSessionOf(*protection_->control)) {
        failWhenWanted(
            QStringLiteral("sessione TLS della connessione di controllo non ripresa (%1)")
                .arg(tls->protectionSummary()),
            Reply::SessionNotResumed);
        return;
    }
    if (debugging_)
        Q_EMIT debugLine(QStringLiteral("data connection TLS %1%2")
                             .arg(tls->protectionSummary(),
                                  tls->isResumed() ? QStringLiteral(", resumed") : QString()));
    if (wanted_)
        handOverProtected();
}

void DataChannel::handOverProtected() {
    TlsSocket* tls = std::exchange(protected_, nullptr);
    releaseOperatorsPort();
    timeout_.stop();
    tls->disconnect(this);
    tls->setParent(nullptr);
    wanted_ = false;
    mode_ = Mode::None;
    Q_EMIT ready(tls);
}

void DataChannel::failWhenWanted(const QString& reason, Reply answer) {
    if (wanted_) {
        fail(reason, answer);
        return;
    }
    // Told to the transfer this PASV was for, when it asks; the connection
    // is dropped now.
    dropProtected();
    if (mode_ == Mode::Passive)
        earlyFailure_.emplace(reason, answer);
}

void DataChannel::fail(const QString& reason, Reply answer) {
    const bool wasWanted = wanted_;
    reset();
    if (wasWanted)
        Q_EMIT failed(reason, answer);
}

void DataChannel::releaseOperatorsPort() {
    if (keepsOperatorsPort_ && listener_)
        listener_->close();
    keepsOperatorsPort_ = false;
}

void DataChannel::reset() {
    releaseOperatorsPort();
    timeout_.stop();
    wanted_ = false;
    mode_ = Mode::None;
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
    if (accepted_ >= 0)
        ::close(std::exchange(accepted_, -1));
    dropProtected();
    earlyFailure_.reset();
}

void DataChannel::dropProtected() {
    for (TlsSocket** tls : {&handshaking_, &protected_}) {
        if (TlsSocket* s = std::exchange(*tls, nullptr)) {
            s->disconnect(this);
            s->abort();
            s->deleteLater();
        }
    }
}

void DataChannel::closeListener() {
    reset();
    if (listener_)
        listener_->close();
}

} // namespace kv::ftp
