// TLS on a control session: AUTH turns the connection into a TLS one (and
// starts the login again), PBSZ and PROT choose how data connections are
// protected, and the rule that named accounts must not move data in clear
// while TLS is required.

#include "ftp/ControlSession.h"

#include "ftp/EngineSettings.h"
#include "ftp/TlsContext.h"
#include "ftp/TlsSocket.h"

#include <QTcpSocket>
#include <QTimer>

namespace kv::ftp {

namespace {
// Silence after the handshake that tells a client waiting for a ticket
// (wget waits at least 60 ms) from one that goes on with its login.
constexpr int kSilentAfterTlsMs = 20;
} // namespace

TlsSocket* ControlSession::controlTls() const {
    return qobject_cast<TlsSocket*>(socket_);
}

StreamSocket* ControlSession::makeTlsSocket(QTcpSocket* tcp) {
    auto* tls = new TlsSocket(tcp, *tls_, TlsSocket::Role::Control,
                              settings_.limits.tlsHandshakeTimeoutMs, this);
    tls->setReadLimit(2 * kMaxCommandLine);
    connect(tls, &TlsSocket::encrypted, this, &ControlSession::onTlsEstablished);
    return tls;
}

void ControlSession::cmdAuth(const QString& arg) {
    const QString mechanism = arg.trimmed().toUpper();
    if (socket_->isEncrypted()) {
        reply(Reply::TlsAlreadyOn);
        return;
    }
    if (mechanism != u"TLS" && mechanism != u"SSL" && mechanism != u"TLS-C") {
        reply(Reply::AuthNotSupported, {mechanism});
        return;
    }
    // A login made in clear does not carry over into the protected session.
    resetLogin();
    if (data_)
        data_->reset();
    reply(Reply::AuthOk, {mechanism});
    startTls();
}

void ControlSession::startTls() {
    // Anything the client sent after AUTH in clear is dropped, never run as
    // if it had come protected.
    input_ = LineFramer();
    releaseReplies(); // the AUTH answer goes in clear, before the handshake
    StreamSocket* plain = socket_;
    QTcpSocket* tcp = plain->releaseTcp();
    plain->deleteLater(); // it may be the one whose signal brought us here
    attachSocket(makeTlsSocket(tcp));
}

void ControlSession::onTlsEstablished() {
    log(QStringLiteral("TLS %1").arg(socket_->protectionSummary()));
    if (implicitTls_) {
        reply(Reply::Greeting);
    } else {
        silentSinceTls_ = true;
        QTimer::singleShot(kSilentAfterTlsMs, this, &ControlSession::onSilentAfterTls);
    }
    restartIdleTimer();
    processInput();
}

void ControlSession::onSilentAfterTls() {
    // A client that says nothing after AUTH's handshake waits for a session
    // to keep for its data connections (wget does, and resumes that one
    // session on all of them): it gets a ticket naming only this connection.
    // Clients that go on at once get theirs with their data commands, once
    // logged in, so clients sharing one session cache among their control
    // connections (rclone) never hold a session issued before a login.
    if (!std::exchange(silentSinceTls_, false) || closed_ || socket_->bytesAvailable() > 0)
        return;
    socket_->issueSessionTicket(files::kNoAccountId, QString(), QHostAddress());
}

void ControlSession::cmdPbsz(const QString&) {
    // Stream mode over TLS needs no buffer: the answer is always 0.
    pbszDone_ = socket_->isEncrypted();
    reply(pbszDone_ ? Reply::PbszOk : Reply::TlsNotActive);
}

void ControlSession::cmdProt(const QString& arg) {
    if (!socket_->isEncrypted()) {
        reply(Reply::TlsNotActive);
        return;
    }
    if (!pbszDone_) { // RFC 4217: PROT only after a successful PBSZ
        reply(Reply::PbszFirst);
        return;
    }
    const QString level = arg.trimmed().toUpper();
    if (level == u"P" || level == u"C") {
        protectData_ = level == u"P";
        reply(Reply::ProtOk, {level});
    } else if (level == u"S" || level == u"E") {
        reply(Reply::ProtNotSupported, {level});
    } else {
        reply(Reply::ProtUnknown, {level});
    }
}

void ControlSession::cmdCcc(const QString&) {
    // Commands and passwords never go back to clear text once protected.
    reply(Reply::ClearControlRefused);
}

bool ControlSession::refusedClearData() {
    if (settings_.tls.mode != TlsMode::Required || protectData_ ||
        userName_.compare(u"anonymous", Qt::CaseInsensitive) == 0)
        return false;
    reply(Reply::DataMustBeEncrypted);
    return true;
}

std::optional<DataProtection> ControlSession::dataProtection() const {
    TlsSocket* control = controlTls();
    if (!protectData_ || !control || !tls_)
        return std::nullopt;
    return DataProtection{tls_.get(), control, settings_.tls.requireSessionReuse,
                          settings_.limits.tlsHandshakeTimeoutMs};
}

} // namespace kv::ftp
