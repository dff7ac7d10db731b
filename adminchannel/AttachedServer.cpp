// Another program's server, through its administration channel: attaching,
// the events' way in, rereads. Its sessions are followed in
// AttachedSessions.cpp, its bans in AttachedBans.cpp.
#include "adminchannel/AttachedServer.h"

namespace kv {

namespace {

QJsonObject op(const QString& name) {
    return {{QStringLiteral("op"), name}};
}

} // namespace

bool isServiceStatus(const QJsonObject& status, const QString& serviceFolder) {
    return status.value(QStringLiteral("user")).toString() == kServiceUser ||
           status.value(QStringLiteral("dataFolder")).toString() == serviceFolder;
}

QString attachedServerDescription(const QJsonObject& status, const QString& serviceFolder) {
    if (isServiceStatus(status, serviceFolder))
        return QStringLiteral("(servizio di sistema)");
    const qint64 pid = qint64(status.value(QStringLiteral("pid")).toDouble());
    if (pid <= 0) // a server from before the pid was given
        return QStringLiteral("(altra finestra o server senza finestra)");
    return QStringLiteral("(altra finestra o server senza finestra, PID %1)").arg(pid);
}

QString attachedServerShortDescription(const QJsonObject& status, const QString& serviceFolder) {
    if (isServiceStatus(status, serviceFolder))
        return QStringLiteral("(servizio)");
    const qint64 pid = qint64(status.value(QStringLiteral("pid")).toDouble());
    if (pid <= 0)
        return QStringLiteral("(altro programma)");
    return QStringLiteral("(PID %1)").arg(pid);
}

AttachedServer::AttachedServer(QObject* parent) : ServerSource(parent) {
    banEnds_.setSingleShot(true);
    connect(&banEnds_, &QTimer::timeout, this, [this] { expireBans(true); });
    connect(&connection_, &AdminConnection::connected, this, &AttachedServer::onConnected);
    connect(&connection_, &AdminConnection::failed, this,
            [this](AdminConnection::Failure f) { Q_EMIT unavailable(f, connection_.error()); });
    connect(&connection_, &AdminConnection::eventReceived, this, &AttachedServer::onEvent);
    connect(&connection_, &AdminConnection::closed, this, &AttachedServer::onClosed);
}

void AttachedServer::attach(const QString& socketPath) {
    detach();
    connection_.connectTo(socketPath);
}

void AttachedServer::attachRemote(const RemoteServerAddress& server,
                                  const QString& expectedFingerprint, const QString& password) {
    detach();
    connection_.connectToRemote(server, expectedFingerprint, password);
}

void AttachedServer::forget() {
    attached_ = false;
    sessions_.clear();
    bans_.clear();
    banEnds_.stop();
}

void AttachedServer::detach() {
    connection_.disconnectQuietly();
    const bool hadSessions = !sessions_.isEmpty();
    forget();
    status_ = {};
    if (hadSessions)
        Q_EMIT sessionsChanged();
}

void AttachedServer::ask(const QJsonObject& request, std::function<void(const QJsonObject&)> done) {
    connection_.request(request, [this, done](const std::optional<QJsonObject>& answer) {
        if (!answer)
            return; // the connection ended: closed() says so
        if (!answer->value(QStringLiteral("ok")).toBool()) {
            Q_EMIT refused(answer->value(QStringLiteral("error")).toString());
            return;
        }
        if (done)
            done(*answer);
    });
}

void AttachedServer::onConnected() {
    connection_.request(op(QStringLiteral("status")), [this](const std::optional<QJsonObject>& a) {
        if (!a || !a->value(QStringLiteral("ok")).toBool()) {
            const QString reason =
                a ? a->value(QStringLiteral("error")).toString() : connection_.error();
            connection_.disconnectQuietly();
            Q_EMIT unavailable(AdminConnection::Failure::Denied, reason);
            return;
        }
        status_ = *a;
        // Following first: every event after that moment reaches the window,
        // and the lists asked for next already hold what the events before
        // them said (the server answers in order).
        ask(op(QStringLiteral("follow")), [this](const QJsonObject&) {
            attached_ = true;
            askSessions();
            askBans();
            Q_EMIT attached();
        });
    });
}

void AttachedServer::onEvent(const QJsonObject& event) {
    const QString name = event.value(QStringLiteral("event")).toString();
    if (name == QLatin1String("log"))
        Q_EMIT logLine(event.value(QStringLiteral("line")).toString());
    else if (name.startsWith(QLatin1String("transfer")))
        onTransferEvent(name, event);
    else if (name == QLatin1String("banned") || name == QLatin1String("banLifted"))
        onBanEvent(name, event);
    else
        onSessionEvent(name, event);
}

void AttachedServer::onClosed() {
    const bool was = attached_;
    forget();
    Q_EMIT sessionsChanged();
    Q_EMIT bansChanged();
    if (was)
        Q_EMIT gone(connection_.error());
}

void AttachedServer::reload() {
    connection_.request(op(QStringLiteral("reload")), [this](const std::optional<QJsonObject>& a) {
        if (!a) {
            Q_EMIT reloadAnswered(false, connection_.error());
            return;
        }
        if (!a->value(QStringLiteral("ok")).toBool()) {
            Q_EMIT reloadAnswered(false, a->value(QStringLiteral("error")).toString());
            return;
        }
        const bool applied = a->value(QStringLiteral("applied")).toBool();
        Q_EMIT reloadAnswered(applied, a->value(QStringLiteral("reason")).toString());
    });
}

} // namespace kv
