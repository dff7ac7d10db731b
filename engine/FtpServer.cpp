// The engine: the control listener, the connection limits and the list of
// open sessions.

#include "engine/FtpServer.h"

#include "engine/ControlSession.h"
#include "engine/HostAddresses.h"
#include "engine/LoginBans.h"
#include "engine/TlsContext.h"

#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace kv::engine {

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

std::optional<QHostAddress> listenAddress(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t == u"0.0.0.0")
        return QHostAddress(QHostAddress::AnyIPv4);
    if (t == u"::")
        return QHostAddress(QHostAddress::Any);
    if (t.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::LocalHost);
    QHostAddress address;
    if (!address.setAddress(t) || !isLocalAddress(address))
        return std::nullopt;
    return address;
}

// Stands for a connection refused before it became a session, so that the
// refusal reaches the activity log like any engine line.
class RefusedConnection final : public StoredConnection {
public:
    explicit RefusedConnection(const QString& host) { remoteHost_ = host; }
    void Disconnect() override {}
};

bool over(qsizetype count, int limit) {
    return limit > 0 && count >= limit;
}

} // namespace

FtpServer::FtpServer(QObject* parent) : QObject(parent), listener_(this), implicitListener_(this) {
    settings_.localAddress = primaryIPv4Address();
    settings_.loginTurns = &loginTurns_;
    listener_.setListenBacklogSize(kListenBacklog);
    implicitListener_.setListenBacklogSize(kListenBacklog);
    connect(&listener_, &DescriptorListener::descriptorReady, this,
            [this](qintptr d) { onIncoming(d, false); });
    connect(&implicitListener_, &DescriptorListener::descriptorReady, this,
            [this](qintptr d) { onIncoming(d, true); });
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
    if (listener_.isListening())
        return true;
    if (settings_.port == 0)
        return false;
    const std::optional<QHostAddress> address = listenAddress(settings_.localAddress);
    if (!address)
        return false;
    // Files are read again at every start; nothing listens when they fail.
    std::shared_ptr<const TlsContext> tls;
    if (!prepareTls(tls))
        return false;
    if (!listener_.listen(*address, settings_.port))
        return false;
    const quint16 implicitPort = settings_.tls.implicitPort;
    if (tls && implicitPort != 0 && !implicitListener_.listen(*address, implicitPort)) {
        listenError_ = QStringLiteral("tls_implicit_port: impossibile usare la porta %1 (%2)")
                           .arg(implicitPort)
                           .arg(implicitListener_.errorString());
        listener_.close();
        return false;
    }
    tls_ = std::move(tls);
    return true;
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
    listener_.close();
    implicitListener_.close();
    // Every connection ends now and is reported before this returns.
    const QList<ControlSession*> open = sessions_;
    for (ControlSession* s : open) {
        s->closeWith(settings_.replies.format(Reply::ShuttingDown));
        onSessionClosed(s);
    }
}

QList<ConnectionObject*> FtpServer::Connections() const {
    QList<ConnectionObject*> list;
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
    const QHostAddress peer = plainAddress(socket->peerAddress());
    const QString host = addressText(socket->peerAddress());
    if (const auto refusal = refusalOf(peer, host)) {
        refuse(socket, refusal->first, host, refusal->second);
        return;
    }
    auto* session = new ControlSession(socket, settings_, tls_, implicitTls, events_, this);
    sessions_.append(session);
    connect(session, &ControlSession::closed, this, &FtpServer::onSessionClosed);
    session->start();
}

std::optional<std::pair<Reply, QString>> FtpServer::refusalOf(const QHostAddress& peer,
                                                              const QString& host) const {
    if (settings_.bans && settings_.bans->isBanned(host))
        return std::pair{Reply::AddressBanned,
                         QStringLiteral("Connessione da %1 rifiutata: indirizzo bloccato "
                                        "temporaneamente dopo troppi accessi falliti")
                             .arg(host)};
    const EngineLimits& limits = settings_.limits;
    if (over(sessions_.size(), limits.maxConnections))
        return std::pair{Reply::TooManyConnections,
                         QStringLiteral("Connessione da %1 rifiutata: raggiunto il limite di %2 "
                                        "connessioni in tutto (max_connections)")
                             .arg(host)
                             .arg(limits.maxConnections)};
    qsizetype fromPeer = 0;
    for (ControlSession* s : std::as_const(sessions_))
        fromPeer += sameHost(s->peerAddress(), peer) ? 1 : 0;
    if (over(fromPeer, limits.maxConnectionsPerAddress))
        return std::pair{Reply::TooManyConnections,
                         QStringLiteral("Connessione da %1 rifiutata: raggiunto il limite di %2 "
                                        "connessioni da un indirizzo (max_connections_per_ip)")
                             .arg(host)
                             .arg(limits.maxConnectionsPerAddress)};
    return std::nullopt;
}

void FtpServer::refuse(QTcpSocket* socket, Reply reply, const QString& host, const QString& line) {
    socket->write(settings_.replies.format(reply).toLatin1().append("\r\n"));
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
    else
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (events_) {
        RefusedConnection refused(host);
        events_->LogLine(refused, line);
    }
}

void FtpServer::setLoginBans(LoginBans* bans) {
    if (settings_.bans)
        settings_.bans->disconnect(this);
    settings_.bans = bans;
    if (bans)
        connect(bans, &LoginBans::banStarted, this, &FtpServer::onBanStarted);
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
    session->disconnect(this);
    if (events_)
        events_->ConnectionClosed(*session);
    session->deleteLater();
}

} // namespace kv::engine
