// A window's connection to a remote server: trust, password, back-off.
#include "adminchannel/RemoteLink.h"

#include "adminchannel/AttachedServer.h"
#include "adminchannel/KnownServers.h"

#include <algorithm>

namespace kv {

RemoteStep stepAfter(AdminConnection::Failure failure) {
    switch (failure) {
    case AdminConnection::Failure::UnknownCertificate:
        return RemoteStep::AskTrust;
    case AdminConnection::Failure::CertificateChanged:
        return RemoteStep::AskTrustChanged;
    case AdminConnection::Failure::WrongPassword:
        return RemoteStep::AskPassword;
    case AdminConnection::Failure::AddressRefused:
    case AdminConnection::Failure::Denied:
        return RemoteStep::StayDisconnected;
    case AdminConnection::Failure::NoServer:
        break;
    }
    return RemoteStep::RetryLater;
}

int ReconnectBackoff::next() {
    const int wait = nextMs_;
    nextMs_ = std::min(nextMs_ * 2, kLongestMs);
    return wait;
}

RemoteLink::RemoteLink(AttachedServer& server, KnownServers& known, RemoteServerAddress address,
                       QString password, Questions questions, QObject* parent)
    : QObject(parent), server_(server), known_(known), address_(std::move(address)),
      password_(std::move(password)), questions_(std::move(questions)) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &RemoteLink::connectNow);
    connect(&server_, &AttachedServer::attached, this, [this] {
        backoff_.reset();
        Q_EMIT linked();
    });
    connect(&server_, &AttachedServer::unavailable, this, &RemoteLink::onFailure);
    connect(&server_, &AttachedServer::gone, this, &RemoteLink::onGone);
}

void RemoteLink::connectNow() {
    retry_.stop();
    const QString expected = known_.fingerprintFor(address_).value_or(QString());
    server_.attachRemote(address_, expected, password_);
}

void RemoteLink::onGone(const QString& reason) {
    retryLater(reason);
}

void RemoteLink::onFailure(AdminConnection::Failure failure, const QString& reason) {
    // The questions may open dialogs: not inside the socket's own signal.
    QMetaObject::invokeMethod(
        this, [this, failure, reason] { decide(failure, reason); }, Qt::QueuedConnection);
}

void RemoteLink::retryLater(const QString& reason) {
    const int wait = backoff_.next();
    retry_.start(wait);
    Q_EMIT lost(reason, wait);
}

void RemoteLink::trustAndConnect(const QString& fingerprint) {
    if (const std::optional<QString> problem = known_.remember(address_, fingerprint)) {
        Q_EMIT stopped(*problem);
        return;
    }
    Q_EMIT trusted(fingerprint);
    connectNow();
}

void RemoteLink::decide(AdminConnection::Failure failure, const QString& reason) {
    const QString seen = server_.connection().seenFingerprint();
    switch (stepAfter(failure)) {
    case RemoteStep::RetryLater:
        retryLater(reason);
        return;
    case RemoteStep::AskTrust:
        if (questions_.trustFirst && questions_.trustFirst(address_, seen)) {
            trustAndConnect(seen);
            return;
        }
        Q_EMIT stopped(QStringLiteral("Certificato del server non accettato: non collegato"));
        return;
    case RemoteStep::AskTrustChanged: {
        const QString known = known_.fingerprintFor(address_).value_or(QString());
        if (questions_.trustChanged && questions_.trustChanged(address_, known, seen)) {
            trustAndConnect(seen);
            return;
        }
        Q_EMIT stopped(reason);
        return;
    }
    case RemoteStep::AskPassword:
        if (questions_.password) {
            if (const std::optional<QString> password = questions_.password(reason)) {
                password_ = *password;
                connectNow();
                return;
            }
        }
        Q_EMIT stopped(reason);
        return;
    case RemoteStep::StayDisconnected:
        Q_EMIT stopped(reason);
        return;
    }
}

} // namespace kv
