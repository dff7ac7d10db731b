#pragma once
// A remote administration server of the test's own, on loopback over TLS
// 1.3 with a certificate made for the test: it records every line a client
// sends, answers the login (accepted with its password, else "denied"; or
// "refused" to every address when told) and every other request with "ok",
// and can drop its clients.

#include "adminchannel/AdminProtocol.h"
#include "adminchannel/RemoteAdmin.h"
#include "ftp/TlsCertificate.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>

namespace kv::testing {

struct TlsAdminServer {
    enum class Login { Accept, Refuse };

    QTemporaryDir dir;
    QSslServer server;
    QString fingerprint;
    Login login = Login::Accept;
    QString password = QStringLiteral("segreta");
    QList<QJsonObject> received; // every line from every client
    QList<QPointer<QSslSocket>> clients;
    int connections = 0;

    TlsAdminServer() {
        const QString cert = dir.filePath(QStringLiteral("c.pem"));
        const QString key = dir.filePath(QStringLiteral("k.pem"));
        ftp::generateSelfSignedCertificate(cert, key, QStringLiteral("localhost"), {});
        fingerprint = adminFingerprintOfFile(cert);
        QFile certFile(cert), keyFile(key);
        certFile.open(QIODevice::ReadOnly);
        keyFile.open(QIODevice::ReadOnly);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setProtocol(QSsl::TlsV1_3OrLater);
        tls.setLocalCertificate(QSslCertificate(certFile.readAll()));
        tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        server.setSslConfiguration(tls);
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QSslServer::startedEncryptionHandshake,
                         [this](QSslSocket*) { ++connections; });
        QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, [this] {
            while (auto* socket = qobject_cast<QSslSocket*>(server.nextPendingConnection())) {
                clients.append(socket);
                QObject::connect(socket, &QSslSocket::readyRead, socket,
                                 [this, socket] { serve(socket); });
                serve(socket);
            }
        });
    }

    RemoteServerAddress address() const {
        return {QStringLiteral("127.0.0.1"), server.serverPort()};
    }

    void dropClients() {
        for (QSslSocket* socket : std::as_const(clients)) {
            if (socket)
                socket->abort();
        }
    }

    void serve(QSslSocket* socket) {
        while (socket->canReadLine()) {
            const QJsonObject line = QJsonDocument::fromJson(socket->readLine()).object();
            received.append(line);
            socket->write(adminLine(answer(line)));
            if (line.value(QStringLiteral("op")) == QLatin1String("login") &&
                !answer(line).value(QStringLiteral("ok")).toBool())
                socket->disconnectFromHost();
        }
    }

    QJsonObject answer(const QJsonObject& line) const {
        const QString op = line.value(QStringLiteral("op")).toString();
        if (op == QLatin1String("login")) {
            if (login == Login::Refuse)
                return {{"ok", false}, {"error", "Indirizzo non autorizzato"}, {"code", "refused"}};
            if (line.value(QStringLiteral("password")).toString() != password)
                return {{"ok", false},
                        {"error", "Password di amministrazione errata"},
                        {"code", "denied"}};
            return {{"ok", true}, {"fingerprint", fingerprint}};
        }
        if (op == QLatin1String("status"))
            return {{"ok", true}, {"port", 2121}};
        return {{"ok", true}};
    }

    // The operations clients asked for, in order.
    QStringList ops() const {
        QStringList list;
        for (const QJsonObject& line : received)
            list.append(line.value(QStringLiteral("op")).toString());
        return list;
    }
};

} // namespace kv::testing
