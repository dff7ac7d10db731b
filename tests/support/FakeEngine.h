#pragma once
// An engine that listens nowhere: properties are stored, Listen() answers what
// the test asks, and the connections are the test's fakes.

#include "ftp/FtpEngine.h"

#include <QList>
#include <QString>

namespace kv::testing {

class FakeEngine : public ftp::FtpEngine {
public:
    // The program's handler, for a test that speaks as a session would.
    void setEvents(session::EngineEvents* handler) override { events = handler; }
    void setNotifications(events::ServerEvents*) override {}

    QString LocalAddress() const override { return localAddress_; }
    void setLocalAddress(const QString& address) override { localAddress_ = address; }
    quint16 Port() const override { return port_; }
    void setPort(quint16 port) override { port_ = port; }
    QString ServerRootDir() const override { return serverRootDir_; }
    void setServerRootDir(const QString& dir) override { serverRootDir_ = dir; }
    qint16 Timeout() const override { return timeout_; }
    void setTimeout(qint16 seconds) override { timeout_ = seconds; }
    qint16 DebugMode() const override { return debugMode_; }
    void setDebugMode(qint16 mode) override { debugMode_ = mode; }
    qint16 DataLingerTime() const override { return dataLingerTime_; }
    void setDataLingerTime(qint16 seconds) override { dataLingerTime_ = seconds; }
    qint32 ResolveLinks() const override { return resolveLinks_; }
    void setResolveLinks(qint32 resolve) override { resolveLinks_ = resolve; }
    ftp::TlsSettings Tls() const override { return tls_; }
    void setTls(const ftp::TlsSettings& tls) override { tls_ = tls; }
    ftp::PassiveSettings Passive() const override { return passive_; }
    void setPassive(const ftp::PassiveSettings& passive) override { passive_ = passive; }
    void setAdmission(session::Admission* given) override { admission = given; }
    void setRateLimiter(session::RateLimiter* given) override { rates = given; }
    session::EngineEvents* events = nullptr;
    void setOwnFiles(const files::OwnFiles* files) override { ownFiles = files; }

    bool Listen() override {
        ++listenCalls;
        listening_ = listenResult;
        return listenResult;
    }
    // Answers like Listen(); a failure leaves the properties to the test.
    bool Relisten() override {
        ++relistenCalls;
        listening_ = listening_ || listenResult;
        return listenResult;
    }
    void StopListening() override {
        ++stopCalls;
        listening_ = false;
    }
    QString ListenError() const override { return listenResult ? QString() : listenError; }
    bool isListening() const override { return listening_; }
    QList<session::ConnectionObject*> Connections() const override { return connections; }

    // What the next Listen() answers.
    bool listenResult = true;
    // The reason a failing Listen() gives.
    QString listenError;
    int listenCalls = 0;
    int stopCalls = 0;
    int relistenCalls = 0;
    QList<session::ConnectionObject*> connections;
    session::Admission* admission = nullptr;
    session::RateLimiter* rates = nullptr;
    const files::OwnFiles* ownFiles = nullptr;

private:
    QString localAddress_;
    quint16 port_ = 21;
    QString serverRootDir_ = QStringLiteral("C:\\");
    qint16 timeout_ = 180;
    qint16 debugMode_ = 0;
    qint16 dataLingerTime_ = 0;
    qint32 resolveLinks_ = 1;
    ftp::TlsSettings tls_;
    ftp::PassiveSettings passive_;
    bool listening_ = false;
};

} // namespace kv::testing
