#pragma once
// The FTP engine: listens on LocalAddress:Port, runs one ControlSession per
// client on the owning thread's event loop, and asks the program for every
// decision through session::EngineEvents.
//
// Usable on its own: construct, setEvents, set the properties, Listen().

#include "files/AreaRegistry.h"
#include "files/FileHasher.h"
#include "ftp/EngineSettings.h"
#include "ftp/FtpEngine.h"
#include "ftp/ReplyPacer.h"
#include "ftp/TlsRefusals.h"
#include "ftp/TurnQueue.h"
#include "net/DescriptorListener.h"
#include "session/Admission.h"

#include <QHash>
#include <QObject>
#include <memory>
#include <optional>
#include <unordered_map>

class QTcpSocket;

namespace kv::ftp {

class ControlSession;
class TlsContext;

class FtpServer : public QObject, public FtpEngine {
    Q_OBJECT
public:
    explicit FtpServer(QObject* parent = nullptr);
    ~FtpServer() override;

    void setEvents(session::EngineEvents* events) override { events_ = events; }
    void setNotifications(events::ServerEvents* notifications) override {
        settings_.notifications = notifications;
    }

    QString LocalAddress() const override { return settings_.localAddress; }
    void setLocalAddress(const QString& address) override { settings_.localAddress = address; }
    quint16 Port() const override { return settings_.port; }
    void setPort(quint16 port) override { settings_.port = port; }
    QString ServerRootDir() const override { return settings_.serverRootDir; }
    void setServerRootDir(const QString& dir) override { settings_.serverRootDir = dir; }
    qint16 Timeout() const override { return settings_.timeout; }
    void setTimeout(qint16 seconds) override { settings_.timeout = seconds; }
    qint16 DebugMode() const override { return settings_.debugMode; }
    void setDebugMode(qint16 mode) override { settings_.debugMode = mode; }
    qint16 DataLingerTime() const override { return settings_.dataLingerTime; }
    void setDataLingerTime(qint16 seconds) override { settings_.dataLingerTime = seconds; }
    qint32 ResolveLinks() const override { return settings_.resolveLinks; }
    void setResolveLinks(qint32 resolve) override { settings_.resolveLinks = resolve; }
    TlsSettings Tls() const override { return settings_.tls; }
    void setTls(const TlsSettings& tls) override { settings_.tls = tls; }
    PassiveSettings Passive() const override { return settings_.passive; }
    // New connections take all of `passive`; open ones its public address.
    void setPassive(const PassiveSettings& passive) override;
    void setAdmission(session::Admission* admission) override;
    void setRateLimiter(session::RateLimiter* rates) override { settings_.rates = rates; }
    void setOwnFiles(const files::OwnFiles* ownFiles) override { settings_.ownFiles = ownFiles; }
    void setQuotaKeeper(session::QuotaKeeper* keeper) override { settings_.quota = keeper; }

    bool Listen() override;
    QString ListenError() const override { return listenError_; }
    bool Relisten() override;
    void StopListening() override;
    bool isListening() const override { return listener_ && listener_->isListening(); }
    QList<session::ConnectionObject*> Connections() const override;

    // Where connections are admitted: the one set, or the engine's own
    // (no bans, no limits until set).
    session::Admission& admission() { return *admission_; }
    const EngineLimits& limits() const { return settings_.limits; }
    void setLimits(const EngineLimits& limits) { settings_.limits = limits; }
    const ReplyTexts& replyTexts() const { return settings_.replies; }
    // Replaces the local-network decision (by default: isLocalClient() over
    // this machine's subnets, read at Listen()), e.g. to make a loopback
    // client count as one from outside.
    void setLocalClientCheck(std::function<bool(const QHostAddress&)> check) {
        localClientCheck_ = std::move(check);
    }

private:
    // Listens as the properties say, keeping a listener that already listens
    // where asked; nothing changes when it fails.
    bool listenAsConfigured();
    // A new listener and, when the old one had to give up the port for it,
    // the old one, closed, for undo() to reopen.
    struct ListenerSwap {
        std::unique_ptr<net::DescriptorListener> fresh;
        net::DescriptorListener* closed = nullptr;
        QHostAddress closedAddress;
        quint16 closedPort = 0;
        void undo();
    };
    ListenerSwap bindInPlaceOf(net::DescriptorListener* old, const QHostAddress& address,
                               quint16 port, bool implicitTls);
    std::unique_ptr<net::DescriptorListener> bindListener(const QHostAddress& address, quint16 port,
                                                          bool implicitTls);
    void onIncoming(qintptr descriptor, bool implicitTls);
    // The TLS context of this start (null with TLS off); the reason when
    // the settings cannot give one.
    bool prepareTls(std::shared_ptr<const TlsContext>& tls);
    void onSessionClosed(ControlSession* session);
    // Why a new connection from `peer` is refused (the reply and the log
    // line), if it is.
    std::optional<std::pair<Reply, QString>> refusalOf(const QString& host) const;
    // Answers `reply` and closes; on the implicit TLS port after the
    // handshake (see TlsRefusals).
    void refuse(QTcpSocket* socket, Reply reply, const QString& host, const QString& line,
                bool implicitTls);
    void onBanStarted(const QString& address);

    // The properties as set (each new connection gets its own copy, so a
    // change never reaches connections already open) and as they were at
    // the last successful (re)listen, for a failed Relisten to go back to.
    EngineSettings settings_;
    EngineSettings live_;
    TurnQueue loginTurns_;
    ReplyPacer replyPacer_;
    files::HashWorkers hashWorkers_{session::kHashesAtOnce};
    // Holds no descriptor itself, so sessions may outlive it.
    files::AreaRegistry areas_;
    session::EngineEvents* events_ = nullptr;
    std::unique_ptr<net::DescriptorListener> listener_;
    std::unique_ptr<net::DescriptorListener> implicitListener_;
    QString bindError_; // why the last bindListener() failed
    std::shared_ptr<const TlsContext> tls_;
    TlsRefusals tlsRefusals_{kTlsRefusalsAtOnce};
    session::Admission ownAdmission_;
    session::Admission* admission_ = &ownAdmission_;
    QList<ControlSession*> sessions_;
    // Each open session's place in the admission.
    std::unordered_map<ControlSession*, session::Admission::Ticket> tickets_;
    QString listenError_;
    std::function<bool(const QHostAddress&)> localClientCheck_;
};

} // namespace kv::ftp
