// Connecting to a running server's administration channel, on this PC or
// over TLS, and waiting for its answers.
#include "adminchannel/AdminClient.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

namespace kv {

namespace {

// Why a TLS connection to `server` was not made, in Italian.
QString noServerReason(const RemoteServerAddress& server, const QSslSocket& tls, bool tcpConnected,
                       int timeoutMs) {
    QString why;
    switch (tls.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        why = QStringLiteral("connessione rifiutata (nessun servizio in ascolto su quella porta)");
        break;
    case QAbstractSocket::HostNotFoundError:
        why = QStringLiteral("nome sconosciuto");
        break;
    case QAbstractSocket::NetworkError:
        why = QStringLiteral("indirizzo irraggiungibile (%1)").arg(tls.errorString());
        break;
    default:
        if (!tcpConnected)
            why = QStringLiteral("nessuna risposta entro %1 secondi").arg(timeoutMs / 1000);
        else
            why = QStringLiteral("handshake TLS non riuscito: il servizio su quella porta non è "
                                 "l'amministrazione remota o non parla TLS 1.3 (%1)")
                      .arg(tls.errorString());
    }
    return QStringLiteral("Nessun server di amministrazione raggiungibile su %1: %2")
        .arg(server.text(), why);
}

} // namespace

AdminClient::Connect AdminClient::connectTo(const QString& socketPath, int timeoutMs) {
    device_ = &socket_;
    socket_.connectToServer(socketPath);
    if (socket_.waitForConnected(timeoutMs))
        return Connect::Connected;
    error_ = socket_.errorString();
    return socket_.error() == QLocalSocket::SocketAccessError ? Connect::Denied : Connect::NoServer;
}

AdminClient::Remote AdminClient::handshake(const RemoteServerAddress& server, int timeoutMs) {
    device_ = &tls_;
    fingerprint_.clear();
    tls_.setSslConfiguration(remoteAdminClientTls());
    const QDeadlineTimer deadline(timeoutMs);
    tls_.connectToHostEncrypted(server.host, server.port);
    const bool tcpConnected = tls_.waitForConnected(timeoutMs);
    if (tcpConnected && tls_.waitForEncrypted(int(std::max<qint64>(1, deadline.remainingTime())))) {
        fingerprint_ = adminFingerprint(tls_.peerCertificate());
        if (!fingerprint_.isEmpty())
            return Remote::Connected;
    }
    error_ = noServerReason(server, tls_, tcpConnected, timeoutMs);
    tls_.abort();
    return Remote::NoServer;
}

AdminClient::Remote AdminClient::login(const QString& password, int timeoutMs) {
    const auto answer = request(
        {{QStringLiteral("op"), QStringLiteral("login")}, {QStringLiteral("password"), password}},
        timeoutMs);
    if (!answer)
        return Remote::NoServer;
    if (answer->value(QStringLiteral("ok")).toBool())
        return Remote::Connected;
    error_ = answer->value(QStringLiteral("error")).toString();
    if (answer->value(QStringLiteral("code")).toString() == QLatin1String("denied"))
        return Remote::PasswordRefused;
    return Remote::AddressRefused;
}

void AdminClient::abandon() {
    tls_.abort();
    socket_.abort();
}

bool AdminClient::connected() const {
    return device_ == &tls_ ? tls_.state() == QAbstractSocket::ConnectedState
                            : socket_.state() == QLocalSocket::ConnectedState;
}

std::optional<QJsonObject> AdminClient::takeLine() {
    while (const auto line = reader_.takeLine()) {
        const QJsonDocument doc = QJsonDocument::fromJson(*line);
        if (doc.isObject())
            return doc.object();
    }
    return std::nullopt;
}

bool AdminClient::readMore(int timeoutMs) {
    device_->waitForReadyRead(timeoutMs);
    if (!reader_.append(device_->readAll())) {
        error_ = adminReplyTooLong();
        abandon();
        return false;
    }
    return true;
}

std::optional<QJsonObject> AdminClient::request(const QJsonObject& request, int timeoutMs) {
    device_->write(adminLine(request));
    if (device_ == &tls_)
        tls_.flush();
    else
        socket_.flush();
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (auto line = takeLine())
            return line;
        if (reader_.overflowed())
            return std::nullopt;
        if (!connected() && device_->bytesAvailable() == 0) {
            error_ =
                QStringLiteral("Il server ha chiuso il canale di amministrazione senza rispondere");
            return std::nullopt;
        }
        if (deadline.hasExpired()) {
            error_ =
                QStringLiteral("Il server non ha risposto entro %1 secondi").arg(timeoutMs / 1000);
            return std::nullopt;
        }
        if (!readMore(int(std::max<qint64>(1, deadline.remainingTime()))))
            return std::nullopt;
    }
}

std::optional<QJsonObject> AdminClient::next() {
    while (true) {
        if (auto line = takeLine())
            return line;
        if (reader_.overflowed())
            return std::nullopt;
        if (!connected() && device_->bytesAvailable() == 0)
            return std::nullopt;
        if (!readMore(1000))
            return std::nullopt;
    }
}

} // namespace kv
