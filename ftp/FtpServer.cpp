// The engine: the control listener, the connection limits and the list of
// open sessions.

#include "ftp/FtpServer.h"

#include "net/ClientLocality.h"
#include "ftp/ControlSession.h"
#include "ftp/TlsContext.h"
#include "net/HostAddresses.h"
#include "session/LoginBans.h"

#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace kv::ftp {

namespace {

// Kernel queue of connections not yet accepted: large enough that a burst of
// hundreds of clients is not dropped while the event loop is busy.
constexpr int kListenBacklog = 1024;

void ignoreSigpipe() {
#ifdef Q_OS_UNIX
    // Zero-copy sending writes to the socket without MSG_NOSIGNAL; a client
    // that vanishes must give EPIPE, not end the program.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, nullptr);
    }
#endif
}

// Stands for a connection refused before it became a session, so that the
// refusal reaches the activity log like any engine line.
class RefusedConnection final : public session::StoredConnection {
public:
    explicit RefusedConnection(const QString& host) { remoteHost_ = host; }
    void Disconnect() override {}
};

} // namespace

FtpServer::FtpServer(QObject* parent) : QObject(parent) {
    settings_.localAddress = net::primaryIPv4Address();
    settings_.loginTurns = &loginTurns_;
    settings_.replyPacer = &replyPacer_;
    settings_.hashWorkers = &hashWorkers_;
    settings_.areas = &areas_;
    live_ = settings_;
    ignoreSigpipe();
}

FtpServer::~FtpServer() {
    // Sessions are children; they close with the engine. Their closed()
    // signals no longer reach the program at this point.
    for (ControlSession* s : std::as_const(sessions_))
        s->disconnect(this);
}

bool FtpServer::Listen() {
    listenError_.clear();
    if (isListening())
        return true;
    return listenAsConfigured();
}

bool FtpServer::Relisten() {
    listenError_.clear();
    if (!isListening())
        return Listen();
    if (listenAsConfigured())
        return true;
    if (listenError_.isEmpty())
        listenError_ = bindError_.isEmpty()
                           ? QStringLiteral("indirizzo %1 o porta %2 non utilizzabili")
                                 .arg(settings_.localAddress)
                                 .arg(settings_.port)
                           : bindError_;
    settings_ = live_; // the properties say again what is running
    return false;
}

bool FtpServer::listenAsConfigured() {
    bindError_.clear();
    if (settings_.port == 0)
        return false;
    const std::optional<QHostAddress> address = net::listeningAddress(settings_.localAddress);
    if (!address) {
        listenError_ = QStringLiteral("l'indirizzo %1 non è di questo computer")
                           .arg(settings_.localAddress.trimmed());
        return false;
    }
    // Files are read again at every start; nothing listens when they fail.
    std::shared_ptr<const TlsContext> tls;
    if (!prepareTls(tls))
        return false;
    // A port cannot be bound twice: a listener already there is kept.
    const auto listensOn = [&](const std::unique_ptr<net::DescriptorListener>& l, quint16 port) {
        return l && l->isListening() && l->serverAddress() == *address && l->serverPort() == port;
    };
    ListenerSwap control;
    if (!listensOn(listener_, settings_.port)) {
        control = bindInPlaceOf(listener_.get(), *address, settings_.port, false);
        if (!control.fresh) {
            listenError_ = bindError_;
            return false;
        }
    }
    const quint16 implicitPort = tls ? settings_.tls.implicitPort : 0;
    ListenerSwap implicit;
    if (implicitPort != 0 && !listensOn(implicitListener_, implicitPort)) {
        implicit = bindInPlaceOf(implicitListener_.get(), *address, implicitPort, true);
        if (!implicit.fresh) {
            listenError_ = QStringLiteral("tls_implicit_port: %1").arg(bindError_);
            control.undo();
            return false;
        }
    }
    // Nothing fails from here on: the new listeners replace the old ones.
    if (control.fresh)
        listener_ = std::move(control.fresh);
    if (implicit.fresh)
        implicitListener_ = std::move(implicit.fresh);
    else if (implicitPort == 0)
        implicitListener_.reset();
    tls_ = std::move(tls);
    // The machine's subnets are read once a start, not at every PASV.
    settings_.isLocalClient = localClientCheck_;
    if (!settings_.isLocalClient) {
        settings_.isLocalClient = [subnets = net::machineSubnets()](const QHostAddress& client) {
            return net::isLocalClient(client, subnets);
        };
    }
    live_ = settings_;
    return true;
}

std::unique_ptr<net::DescriptorListener> FtpServer::bindListener(const QHostAddress& address,
                                                                 quint16 port, bool implicitTls) {
    auto listener = std::make_unique<net::DescriptorListener>();
    listener->setListenBacklogSize(kListenBacklog);
    if (!listener->listen(address, port)) {
        bindError_ = QStringLiteral("impossibile usare la porta %1 (%2)")
                         .arg(port)
                         .arg(listener->failureText(address));
        return nullptr;
    }
    connect(listener.get(), &net::DescriptorListener::descriptorReady, this,
            [this, implicitTls](qintptr d) { onIncoming(d, implicitTls); });
    return listener;
}

FtpServer::ListenerSwap FtpServer::bindInPlaceOf(net::DescriptorListener* old,
                                                 const QHostAddress& address, quint16 port,
                                                 bool implicitTls) {
    ListenerSwap swap;
    swap.fresh = bindListener(address, port, implicitTls);
    if (swap.fresh || !old || !old->isListening() || old->serverPort() != port)
        return swap;
    // The same port on another address (127.0.0.1 to 0.0.0.0, say): the
    // kernel refuses the second bind while the old listener holds the port.
    const QString firstError = bindError_;
    swap.closed = old;
    swap.closedAddress = old->serverAddress();
    swap.closedPort = port;
    old->close();
    swap.fresh = bindListener(address, port, implicitTls);
    if (!swap.fresh) {
        swap.undo();
        bindError_ = firstError;
    }
    return swap;
}

void FtpServer::ListenerSwap::undo() {
    fresh.reset();
    if (closed && !closed->isListening())
        closed->listen(closedAddress, closedPort);
    closed = nullptr;
}

bool FtpServer::prepareTls(std::shared_ptr<const TlsContext>& tls) {
    if (!settings_.tls.enabled())
        return true;
    TlsContext::Result made = TlsContext::create(settings_.tls);
    if (!made.context) {
        listenError_ = made.error;
        return false;
    }
    tls = std::move(made.context);
    return true;
}

void FtpServer::StopListening() {
    listener_.reset();
    implicitListener_.reset();
    // Every connection ends now and is reported before this returns.
    const QList<ControlSession*> open = sessions_;
    for (ControlSession* s : open) {
        s->closeWith(settings_.replies.format(Reply::ShuttingDown));
        s->reportClosed();
    }
}

void FtpServer::setPassive(const PassiveSettings& passive) {
    settings_.passive = passive;
    for (ControlSession* s : std::as_const(sessions_))
        s->setPublicAddress(passive.publicAddress);
}

QList<session::ConnectionObject*> FtpServer::Connections() const {
    QList<session::ConnectionObject*> list;
    list.reserve(sessions_.size());
    for (ControlSession* s : sessions_)
        list << s;
    return list;
}

void FtpServer::onIncoming(qintptr descriptor, bool implicitTls) {
    auto* socket = new QTcpSocket();
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QString host = net::addressText(socket->peerAddress());
    if (const auto refusal = refusalOf(host)) {
        refuse(socket, refusal->first, host, refusal->second, implicitTls);
        return;
    }
    auto* session = new ControlSession(socket, std::make_shared<const EngineSettings>(settings_),
                                       tls_, implicitTls, events_, this);
    sessions_.append(session);
    tickets_.emplace(session, admission_->admit(host));
    connect(session, &ControlSession::closed, this, &FtpServer::onSessionClosed);
    session->start();
}

std::optional<std::pair<Reply, QString>> FtpServer::refusalOf(const QString& host) const {
    const std::optional<session::Admission::Refusal> refusal = admission_->refusalOf(host);
    if (!refusal)
        return std::nullopt;
    const Reply reply = *refusal == session::Admission::Refusal::Banned ? Reply::AddressBanned
                                                                        : Reply::TooManyConnections;
    return std::pair{reply, QStringLiteral("Connessione da %1 rifiutata: %2")
                                .arg(host, admission_->reasonText(*refusal))};
}

void FtpServer::refuse(QTcpSocket* socket, Reply reply, const QString& host, const QString& line,
                       bool implicitTls) {
    const QByteArray text = settings_.replies.format(reply).toLatin1().append("\r\n");
    bool answered = true;
    if (implicitTls && tls_) {
        answered = tlsRefusals_.refuse(socket, *tls_, text, settings_.limits.tlsHandshakeTimeoutMs);
    } else {
        socket->write(text);
        socket->disconnectFromHost();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
        else
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
    if (events_) {
        RefusedConnection refused(host);
        events_->LogLine(refused, answered ? line
                                           : line + QStringLiteral(" (chiusa senza risposta: "
                                                                   "troppe connessioni TLS "
                                                                   "rifiutate in corso)"));
    }
}

void FtpServer::setAdmission(session::Admission* admission) {
    if (settings_.bans)
        settings_.bans->disconnect(this);
    admission_ = admission ? admission : &ownAdmission_;
    settings_.bans = admission_->bans();
    if (settings_.bans)
        connect(settings_.bans, &session::LoginBans::banStarted, this, &FtpServer::onBanStarted);
}

void FtpServer::onBanStarted(const QString& address) {
    // Every open connection from the address ends once its current command
    // has its answer; the one whose failure started the ban too.
    const QString text = settings_.replies.format(Reply::AddressBanned);
    for (ControlSession* s : std::as_const(sessions_)) {
        if (s->RemoteHost() == address)
            s->closeAfterReply(text);
    }
}

void FtpServer::onSessionClosed(ControlSession* session) {
    if (!sessions_.removeOne(session))
        return; // already reported
    tickets_.erase(session);
    session->disconnect(this);
    session->deleteLater();
}

} // namespace kv::ftp
