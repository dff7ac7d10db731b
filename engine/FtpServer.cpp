// The engine: the control listener, the connection limits and the list of
// open sessions.

#include "engine/FtpServer.h"

#include "engine/ClientLocality.h"
#include "engine/ControlSession.h"
#include "engine/HostAddresses.h"
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

} // namespace

FtpServer::FtpServer(QObject* parent) : QObject(parent), listener_(this), implicitListener_(this) {
    settings_.localAddress = primaryIPv4Address();
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
    // The machine's subnets are read once a start, not at every PASV.
    settings_.isLocalClient = localClientCheck_;
    if (!settings_.isLocalClient) {
        settings_.isLocalClient = [subnets = machineSubnets()](const QHostAddress& client) {
            return isLocalClient(client, subnets);
        };
    }
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
    qsizetype fromPeer = 0;
    for (ControlSession* s : std::as_const(sessions_))
        fromPeer += sameHost(s->peerAddress(), peer) ? 1 : 0;
    std::optional<Reply> refusal;
    if (sessions_.size() >= settings_.limits.maxConnections)
        refusal = Reply::TooManyUsers;
    else if (fromPeer >= settings_.limits.maxConnectionsPerAddress)
        refusal = Reply::TooManyFromAddress;
    if (refusal) {
        socket->write(settings_.replies.format(*refusal).toLatin1().append("\r\n"));
        socket->disconnectFromHost();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
        else
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        return;
    }
    auto* session = new ControlSession(socket, settings_, tls_, implicitTls, events_, this);
    sessions_.append(session);
    connect(session, &ControlSession::closed, this, &FtpServer::onSessionClosed);
    session->start();
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
