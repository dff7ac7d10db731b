#include "sftp/SftpServer.h"

#include "net/ClientLocality.h"
#include "net/DescriptorListener.h"
#include "net/HostAddresses.h"
#include "sftp/PublicKeyLine.h"

#include <QFile>
#include <QHostAddress>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::sftp {

namespace {

// Modern algorithms only: no SHA-1, no CBC, no finite-field groups.
constexpr const char* kKeyExchange =
    "curve25519-sha256,curve25519-sha256@libssh.org,ecdh-sha2-nistp256,ecdh-sha2-nistp384,"
    "ecdh-sha2-nistp521";
constexpr const char* kCiphers = "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,"
                                 "aes128-gcm@openssh.com,aes256-ctr,aes192-ctr,aes128-ctr";
constexpr const char* kMacs = "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,"
                              "hmac-sha2-256,hmac-sha2-512";
constexpr const char* kHostKeyAlgorithms = "ssh-ed25519,ecdsa-sha2-nistp256";

// A connection refused before any SSH byte, for its log line.
class RefusedConnection : public session::StoredConnection {
public:
    explicit RefusedConnection(const QString& host) {
        remoteHost_ = host;
        loginAddress_ = host;
    }
    void Disconnect() override {}
};

QHostAddress peerOf(int fd) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return {};
    return QHostAddress(reinterpret_cast<const sockaddr*>(&storage));
}

} // namespace

SftpServer::SftpServer(QObject* parent) : QObject(parent) {}

SftpServer::~SftpServer() {
    stop();
}

bool SftpServer::listen(const SftpListenSettings& settings, QString* error) {
    // The new listener is made beside the old one: a failure keeps what runs,
    // and open sessions keep the context they started with.
    ssh_bind bind = ssh_bind_new();
    bool noConfig = false;
    const QByteArray ed = QFile::encodeName(settings.hostKeys.ed25519);
    const QByteArray ec = QFile::encodeName(settings.hostKeys.ecdsa);
    const bool set =
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_PROCESS_CONFIG, &noConfig) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HOSTKEY, ed.constData()) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HOSTKEY, ec.constData()) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_KEY_EXCHANGE, kKeyExchange) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_CIPHERS_C_S, kCiphers) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_CIPHERS_S_C, kCiphers) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HMAC_C_S, kMacs) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HMAC_S_C, kMacs) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HOSTKEY_ALGORITHMS, kHostKeyAlgorithms) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_PUBKEY_ACCEPTED_KEY_TYPES,
                             acceptedKeyAlgorithms()) == 0 &&
        ssh_bind_options_set(bind, SSH_BIND_OPTIONS_RSA_MIN_SIZE, &kMinimumRsaBits) == 0;
    if (!set) {
        if (error)
            *error = QStringLiteral("Chiavi SFTP non utilizzabili: %1")
                         .arg(QString::fromUtf8(ssh_get_error(bind)));
        ssh_bind_free(bind);
        return false;
    }
    const bool samePort =
        isListening() && settings.port == settings_.port && settings.address == settings_.address;
    auto listener = std::make_unique<net::DescriptorListener>();
    // Where FTP listens, "::" on IPv6 and IPv4 alike.
    const std::optional<QHostAddress> address = net::listeningAddress(settings.address);
    if (!address) {
        if (error)
            *error = QStringLiteral("Porta SFTP %1 non utilizzabile: l'indirizzo %2 non è di "
                                    "questo computer")
                         .arg(settings.port)
                         .arg(settings.address.trimmed());
        ssh_bind_free(bind);
        return false;
    }
    if (!samePort && !listener->listen(*address, settings.port)) {
        if (error)
            *error = QStringLiteral("Porta SFTP %1 non utilizzabile: %2")
                         .arg(settings.port)
                         .arg(listener->failureText(*address));
        ssh_bind_free(bind);
        return false;
    }
    if (settings_.context.bans)
        settings_.context.bans->disconnect(this);
    if (!samePort) {
        listener_ = std::move(listener);
        connect(listener_.get(), &net::DescriptorListener::descriptorReady, this,
                &SftpServer::onIncoming);
    }
    if (bind_)
        ssh_bind_free(bind_);
    bind_ = bind;
    settings_ = settings;
    auto context = std::make_shared<SftpContext>(settings.context);
    if (context->rates && !context->isLocalClient)
        context->isLocalClient = [subnets = net::machineSubnets()](const QHostAddress& client) {
            return net::isLocalClient(client, subnets);
        };
    context->areas = &areas_;
    context->hashWorkers = &hashWorkers_;
    context_ = std::move(context);
    if (session::LoginBans* bans = settings.context.bans)
        connect(bans, &session::LoginBans::banStarted, this, &SftpServer::onBanStarted);
    return true;
}

void SftpServer::stop() {
    if (settings_.context.bans)
        settings_.context.bans->disconnect(this);
    listener_.reset();
    const QList<SftpSession*> open = sessions_;
    sessions_.clear();
    tickets_.clear();
    for (SftpSession* s : open) {
        s->closeWith(QStringLiteral("server fermato"));
        // Reported now, not from the event loop: the server is going away.
        s->reportClosed();
        delete s;
    }
    if (bind_) {
        ssh_bind_free(bind_);
        bind_ = nullptr;
    }
}

bool SftpServer::isListening() const {
    return listener_ && listener_->isListening();
}

quint16 SftpServer::port() const {
    return listener_ ? listener_->serverPort() : 0;
}

QList<session::ConnectionObject*> SftpServer::connections() const {
    QList<session::ConnectionObject*> list;
    for (SftpSession* s : sessions_)
        list << s;
    return list;
}

std::optional<QString> SftpServer::refusalOf(const QString& host) const {
    const session::Admission* admission = settings_.admission;
    if (!admission)
        return std::nullopt;
    if (const auto refusal = admission->refusalOf(host))
        return QStringLiteral("SFTP: connessione da %1 rifiutata: %2")
            .arg(host, admission->reasonText(*refusal));
    return std::nullopt;
}

void SftpServer::onIncoming(qintptr descriptor) {
    const int fd = int(descriptor);
    const QString host = net::addressText(peerOf(fd));
    if (const auto refusal = refusalOf(host)) {
        ::close(fd);
        if (settings_.context.events) {
            RefusedConnection refused(host);
            settings_.context.events->LogLine(refused, *refusal);
        }
        return;
    }
    // Requests and replies are small packets that each wait for the other
    // side: none may wait for an acknowledgement first (as on the FTP control
    // connection).
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ssh_session session = ssh_new();
    if (!session || ssh_bind_accept_fd(bind_, session, fd) != SSH_OK) {
        if (session)
            ssh_free(session);
        ::close(fd);
        return;
    }
    auto* s = new SftpSession(session, host, context_, this);
    sessions_.append(s);
    if (settings_.admission)
        tickets_.emplace(s, settings_.admission->admit(host));
    connect(s, &SftpSession::closed, this, [this](SftpSession* closed) {
        tickets_.erase(closed);
        if (sessions_.removeOne(closed))
            closed->deleteLater();
    });
    s->start();
}

void SftpServer::onBanStarted(const QString& address) {
    for (SftpSession* s : std::as_const(sessions_)) {
        if (s->RemoteHost() == address)
            s->closeSoon(QStringLiteral("indirizzo bloccato")); // the ban may start in a callback
    }
}

} // namespace kv::sftp
