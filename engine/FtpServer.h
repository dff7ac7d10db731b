#pragma once
// The FTP engine: listens on LocalAddress:Port, runs one ControlSession per
// client on the owning thread's event loop, and asks the program for every
// decision through EngineEvents.
//
// Usable on its own: construct, setEvents, set the properties, Listen().

#include "engine/DescriptorListener.h"
#include "engine/EngineSettings.h"
#include "engine/FtpEngine.h"
#include "engine/TurnQueue.h"

#include <QObject>
#include <memory>
#include <optional>

class QTcpSocket;

namespace kv::engine {

class ControlSession;
class TlsContext;

class FtpServer : public QObject, public FtpEngine {
    Q_OBJECT
public:
    explicit FtpServer(QObject* parent = nullptr);
    ~FtpServer() override;

    void setEvents(EngineEvents* events) override { events_ = events; }

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
    void setConnectionLimits(int maxConnections, int maxPerAddress) override {
        settings_.limits.maxConnections = maxConnections;
        settings_.limits.maxConnectionsPerAddress = maxPerAddress;
    }
    void setLoginBans(LoginBans* bans) override;

    bool Listen() override;
    QString ListenError() const override { return listenError_; }
    void StopListening() override;
    bool isListening() const override { return listener_.isListening(); }
    QList<ConnectionObject*> Connections() const override;
    qint16 Heartbeat() const override { return 0; }

    // The port the listener is bound to; 0 while not listening.
    quint16 boundPort() const { return listener_.serverPort(); }
    // The implicit-TLS listener's port; 0 when there is none.
    quint16 boundImplicitPort() const { return implicitListener_.serverPort(); }
    const EngineLimits& limits() const { return settings_.limits; }
    void setLimits(const EngineLimits& limits) { settings_.limits = limits; }
    const ReplyTexts& replyTexts() const { return settings_.replies; }

private:
    void onIncoming(qintptr descriptor, bool implicitTls);
    // The TLS context of this start (null with TLS off); the reason when
    // the settings cannot give one.
    bool prepareTls(std::shared_ptr<const TlsContext>& tls);
    void onSessionClosed(ControlSession* session);
    // Why a new connection from `peer` is refused (the reply and the log
    // line), if it is.
    std::optional<std::pair<Reply, QString>> refusalOf(const QHostAddress& peer,
                                                       const QString& host) const;
    void refuse(QTcpSocket* socket, Reply reply, const QString& host, const QString& line);
    void onBanStarted(const QString& address);

    EngineSettings settings_;
    TurnQueue loginTurns_;
    EngineEvents* events_ = nullptr;
    DescriptorListener listener_;
    DescriptorListener implicitListener_;
    std::shared_ptr<const TlsContext> tls_;
    QList<ControlSession*> sessions_;
    QString listenError_;
};

} // namespace kv::engine
