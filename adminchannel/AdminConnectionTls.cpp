// The administration client over TLS to a remote server: the certificate
// judged by its fingerprint before anything is sent, then the login line.
#include "adminchannel/AdminConnection.h"

#include <QSslSocket>

namespace kv {

void AdminConnection::useTls() {
    if (tls_) {
        socket_ = tls_;
        return;
    }
    tls_ = new QSslSocket(this);
    socket_ = tls_;
    connect(tls_, &QSslSocket::encrypted, this, &AdminConnection::onEncrypted);
    connect(tls_, &QSslSocket::readyRead, this, &AdminConnection::onReadyRead);
    connect(tls_, &QSslSocket::disconnected, this, &AdminConnection::onDisconnected);
    connect(tls_, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (wasConnected_ || ending_)
            return; // the end of an open channel comes as disconnected()
        if (tls_->bytesAvailable() > 0)
            onReadyRead(); // what the server said before it closed (a refusal)
        if (!ending_)
            failBeforeConnected(Failure::NoServer, tls_->errorString());
    });
}

void AdminConnection::connectToRemote(const RemoteServerAddress& server,
                                      const QString& expectedFingerprint, const QString& password) {
    startAfresh();
    seenFingerprint_.clear();
    expectedFingerprint_ = expectedFingerprint;
    password_ = password;
    useTls();
    tls_->setSslConfiguration(remoteAdminClientTls());
    tls_->connectToHostEncrypted(server.host, server.port);
}

void AdminConnection::onEncrypted() {
    seenFingerprint_ = adminFingerprint(tls_->peerCertificate());
    // Nothing, not even the password, goes to a server not recognised.
    if (expectedFingerprint_.isEmpty()) {
        failBeforeConnected(Failure::UnknownCertificate,
                            QStringLiteral("Certificato del server non ancora riconosciuto: %1")
                                .arg(seenFingerprint_));
        return;
    }
    if (seenFingerprint_ != expectedFingerprint_) {
        failBeforeConnected(
            Failure::CertificateChanged,
            QStringLiteral("Il certificato del server è cambiato: atteso %1, ricevuto %2")
                .arg(expectedFingerprint_, seenFingerprint_));
        return;
    }
    loggingIn_ = true;
    tls_->write(adminLine({{QStringLiteral("op"), QStringLiteral("login")},
                           {QStringLiteral("password"), password_}}));
}

void AdminConnection::onLoginAnswer(const QJsonObject& answer) {
    loggingIn_ = false;
    if (answer.value(QStringLiteral("ok")).toBool()) {
        wasConnected_ = true;
        Q_EMIT connected();
        return;
    }
    const QString code = answer.value(QStringLiteral("code")).toString();
    QString reason = answer.value(QStringLiteral("error")).toString();
    if (reason.isEmpty())
        reason = QStringLiteral("Accesso rifiutato dal server");
    if (code == QLatin1String("denied"))
        failBeforeConnected(Failure::WrongPassword, reason);
    else if (code == QLatin1String("refused"))
        failBeforeConnected(Failure::AddressRefused, reason);
    else
        failBeforeConnected(Failure::NoServer, reason);
}

void AdminConnection::failBeforeConnected(Failure failure, const QString& reason) {
    if (ending_)
        return;
    ending_ = true; // once: the close that follows is not another failure
    loggingIn_ = false;
    error_ = reason;
    tls_->abort();
    failPending();
    Q_EMIT failed(failure);
}

} // namespace kv
