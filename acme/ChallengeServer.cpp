#include "acme/ChallengeServer.h"

#include "acme/ChallengeAnswers.h"
#include "acme/Http01Listener.h"
#include "acme/TlsAlpnListener.h"

namespace kv::acme {

namespace {

constexpr quint16 kFirstFreePort = 1024;

struct PortSetting {
    const char* name;   // the option that chooses the port
    quint16 caPort;     // the port the CA always connects to
    quint16 suggestion; // a port any user may listen on
};

PortSetting portSetting(const QString& type) {
    if (type == QLatin1String("tls-alpn-01"))
        return {"acme_tls_port", 443, 8443};
    return {"acme_http_port", 80, 8080};
}

QString listenFailure(const QTcpServer& server, const QString& type, const QHostAddress& address,
                      quint16 port) {
    const PortSetting setting = portSetting(type);
    switch (server.serverError()) {
    case QAbstractSocket::AddressInUseError: {
        const QString holder = portHolder(port);
        return QStringLiteral("la porta %1 è già usata da %2: chiuderlo, oppure scegliere "
                              "un'altra porta in %3; la porta %4 del router deve essere "
                              "inoltrata a quella porta di questo PC")
            .arg(port)
            .arg(holder.isEmpty() ? QStringLiteral("un altro programma") : holder,
                 QLatin1String(setting.name))
            .arg(setting.caPort);
    }
    case QAbstractSocket::SocketAccessError:
        if (port < kFirstFreePort)
            return QStringLiteral(
                       "la porta %1 è sotto 1024 e questo utente non ha il privilegio di "
                       "usarla: scegliere in %2 una porta più alta (per esempio %3); la porta "
                       "%4 del router deve essere inoltrata a quella porta di questo PC")
                .arg(port)
                .arg(QLatin1String(setting.name))
                .arg(setting.suggestion)
                .arg(setting.caPort);
        return QStringLiteral("permesso negato per la porta %1").arg(port);
    case QAbstractSocket::SocketAddressNotAvailableError:
        return QStringLiteral("l'indirizzo %1 non è di questo PC").arg(address.toString());
    default:
        return QStringLiteral("impossibile ascoltare sulla porta %1 (%2)")
            .arg(port)
            .arg(server.errorString());
    }
}

} // namespace

ChallengeServer::ChallengeServer(ChallengeLimits limits, QObject* parent)
    : QObject(parent), limits_(limits) {}

ChallengeServer::~ChallengeServer() = default;

std::optional<QString> ChallengeServer::open(const QString& type, const QHostAddress& address,
                                             quint16 port) {
    close();
    std::unique_ptr<QTcpServer> listener;
    if (type == QLatin1String("http-01"))
        listener = std::make_unique<Http01Listener>(published_, limits_);
    else if (type == QLatin1String("tls-alpn-01"))
        listener = std::make_unique<TlsAlpnListener>(published_, limits_);
    else
        return QStringLiteral("tipo di verifica sconosciuto: %1").arg(type);
    if (!listener->listen(address, port))
        return listenFailure(*listener, type, address, port);
    listener_ = std::move(listener);
    return std::nullopt;
}

std::optional<QString> ChallengeServer::publish(const PendingChallenge& challenge) {
    PublishedAnswer answer;
    answer.challenge = challenge;
    if (challenge.type == QLatin1String("tls-alpn-01")) {
        const TlsAlpnCertificate made =
            makeTlsAlpnCertificate(challenge.domain, challenge.keyAuthorization);
        if (!made.error.isEmpty())
            return made.error;
        answer.certificate = QSslCertificate(made.certificatePem, QSsl::Pem);
        answer.key = QSslKey(made.keyPem, QSsl::Ec, QSsl::Pem);
        if (answer.certificate.isNull() || answer.key.isNull())
            return QStringLiteral("il certificato di verifica per %1 non è leggibile")
                .arg(challenge.domain);
    }
    published_.add(std::move(answer));
    return std::nullopt;
}

void ChallengeServer::withdrawAll() {
    published_.clear();
}

void ChallengeServer::close() {
    listener_.reset(); // its connections are its children and go with it
}

bool ChallengeServer::isOpen() const {
    return listener_ && listener_->isListening();
}

quint16 ChallengeServer::port() const {
    return listener_ ? listener_->serverPort() : 0;
}

} // namespace kv::acme
