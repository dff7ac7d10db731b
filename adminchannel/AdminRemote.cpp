// Remote administration on the channel: the TLS listener's setup from the
// options, who may come in, and the login that must come first.
#include "access/AdminPassword.h"
#include "access/PasswordHash.h"
#include "adminchannel/AdminCertificate.h"
#include "adminchannel/AdminChannelClient.h"
#include "adminchannel/RemoteAdmin.h"
#include "adminchannel/RemoteListener.h"
#include "core/ProgramCore.h"
#include "net/HostAddresses.h"
#include "session/FailedLogin.h"
#include "session/SessionLimits.h"
#include "settings/AdminOptions.h"

#include <QSqlQuery>
#include <QSslSocket>

namespace kv {

namespace {

QByteArray refusal(const QString& reason, const QString& code) {
    return adminLine({{QStringLiteral("ok"), false},
                      {QStringLiteral("error"), reason},
                      {QStringLiteral("code"), code}});
}

// The settings row's ip as an address to listen on: "Default" every
// address, empty every IPv4 address, as the FTP server reads it.
QHostAddress serverAddress(QSqlDatabase db) {
    QSqlQuery q(db);
    const QString ip = q.exec(QStringLiteral("SELECT ip FROM settings LIMIT 1")) && q.next()
                           ? q.value(0).toString().trimmed()
                           : QStringLiteral("Default");
    if (ip.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::Any);
    if (ip.isEmpty())
        return QHostAddress(QHostAddress::AnyIPv4);
    if (ip.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::LocalHost);
    return QHostAddress(ip);
}

QString where(const QHostAddress& address, quint16 port) {
    const QString text = address == QHostAddress(QHostAddress::Any)
                             ? QStringLiteral("tutti gli indirizzi")
                             : address.toString();
    return QStringLiteral("%1 porta %2").arg(text).arg(port);
}

} // namespace

quint16 AdminChannel::remotePort() const {
    return remote_ && remote_->isListening() ? remote_->serverPort() : 0;
}

QString AdminChannel::remoteFingerprint() const {
    if (!fingerprint_.isEmpty())
        return fingerprint_;
    return adminFingerprintOfFile(adminCertificateFile(core_.dataFolder()));
}

AdminChannel::RemoteSetup AdminChannel::readRemoteSetup(QString& error) const {
    const settings::OptionSet options =
        settings::optionCatalog().checkAll(core_.views().options().read().rows);
    RemoteSetup setup;
    setup.port = quint16(options.value(settings::option::kAdminPort).toUInt());
    if (setup.port == 0)
        return setup;
    QSqlDatabase db = core_.database().connection();
    const QString address = options.value(settings::option::kAdminAddress);
    setup.address = address.isEmpty() ? serverAddress(db) : QHostAddress(address);
    setup.allowed = options.value(settings::option::kAdminAllowed);
    setup.passwordHash = access::adminPasswordHash(db).value_or(QString());
    if (setup.passwordHash.isEmpty())
        error = QStringLiteral("Amministrazione remota non attiva: manca la password (kestrova "
                               "admin passwd)");
    return setup;
}

void AdminChannel::stopRemote() {
    if (!remote_)
        return;
    remote_->close();
    remote_.reset();
    // Who logged in with the old password or from an address no longer
    // allowed goes; a new connection meets the new rules.
    const QList<Client*> clients = clients_;
    for (Client* client : clients) {
        if (client->remote)
            drop(client, false);
    }
}

void AdminChannel::configureRemote() {
    QString error;
    const RemoteSetup setup = readRemoteSetup(error);
    if (remote_ && setup == remoteSetup_)
        return;
    stopRemote();
    remoteSetup_ = setup;
    if (setup.port == 0)
        return;
    if (!error.isEmpty()) {
        core_.WriteLog(error);
        return;
    }
    const AdminCertificate certificate = ensureAdminCertificate(core_.dataFolder());
    if (!certificate.ok()) {
        core_.WriteLog(
            QStringLiteral("Amministrazione remota non attiva: %1").arg(certificate.error));
        return;
    }
    fingerprint_ = certificate.fingerprint;
    remote_ = std::make_unique<RemoteListener>(certificate, kMaxRemoteClients);
    if (!remote_->listen(setup.address, setup.port)) {
        core_.WriteLog(QStringLiteral("Amministrazione remota non attiva: impossibile ascoltare su "
                                      "%1 (%2)")
                           .arg(where(setup.address, setup.port), remote_->errorString()));
        remote_.reset();
        return;
    }
    connect(remote_.get(), &RemoteListener::ready, this, &AdminChannel::onRemoteReady);
    core_.WriteLog(QStringLiteral("Amministrazione remota in ascolto su %1, impronta del "
                                  "certificato %2")
                       .arg(where(setup.address, setup.port), fingerprint_));
}

void AdminChannel::onRemoteReady(QSslSocket* socket) {
    socket->setParent(this);
    const QString address = net::addressText(socket->peerAddress());
    if (!settings::adminAddressAllowed(remoteSetup_.allowed,
                                       net::plainAddress(socket->peerAddress()))) {
        refuse(socket, refusal(QStringLiteral("Indirizzo %1 non ammesso all'amministrazione "
                                              "remota")
                                   .arg(address),
                               QStringLiteral("refused")));
        return;
    }
    if (core_.loginBans().isBanned(address)) {
        refuse(socket, refusal(QStringLiteral("Indirizzo %1 bloccato temporaneamente").arg(address),
                               QStringLiteral("refused")));
        return;
    }
    if (countClients(true) >= kMaxRemoteClients) {
        refuse(socket, refusal(QStringLiteral("Troppi client di amministrazione collegati (al "
                                              "massimo %1)")
                                   .arg(kMaxRemoteClients),
                               QStringLiteral("busy")));
        return;
    }
    addClient(socket, address);
}

void AdminChannel::handleLogin(Client* client, const AdminRequest& request) {
    const std::optional<QString> typed = adminLoginPassword(request);
    if (!typed) {
        send(client, refusal(QStringLiteral("Accesso richiesto"), QStringLiteral("login")));
        drop(client, true);
        return;
    }
    if (!remoteSetup_.passwordHash.isEmpty() &&
        access::passwordMatches(remoteSetup_.passwordHash, *typed)) {
        client->loggedIn = true;
        client->reader.setLimit(kAdminMaxRequestBytes);
        core_.WriteLog(
            QStringLiteral("Amministrazione remota: accesso da %1").arg(client->address));
        Q_EMIT core_.notifications().adminLoggedIn(client->address);
        send(client, adminLine({{QStringLiteral("ok"), true},
                                {QStringLiteral("fingerprint"), fingerprint_}}));
        return;
    }
    // Always after the delay, whether bans are on or not: guessing stays slow.
    // The answer is set up first, so a ban this attempt makes (which drops
    // the address's other clients) still lets this one hear why.
    client->idle.stop();
    client->answer.disconnect();
    connect(&client->answer, &QTimer::timeout, this, [this, client] {
        send(client, refusal(QStringLiteral("Password di amministrazione errata"),
                             QStringLiteral("denied")));
        drop(client, true);
    });
    client->answer.start(session::kFailedLoginDelayMs);
    events::SessionInfo session;
    session.address = client->address;
    const session::FailedLoginPlace place{&core_.loginBans(), &core_.notifications(),
                                          [this](const QString& line) { core_.WriteLog(line); }};
    session::recordFailedLogin(
        place,
        {session, QStringLiteral("admin"), QStringLiteral("password di amministrazione errata")},
        QStringLiteral("Amministrazione remota: accesso rifiutato da %1").arg(client->address));
}

void AdminChannel::dropAddress(const QString& address) {
    const QList<Client*> clients = clients_;
    for (Client* client : clients) {
        if (client->remote && client->address == address && !client->answer.isActive())
            drop(client, false);
    }
}

} // namespace kv
