// Another program's server, through its administration channel.
#include "adminchannel/AttachedServer.h"

#include <QJsonArray>

#include <algorithm>

namespace kv {

namespace {

QJsonObject op(const QString& name) {
    return {{QStringLiteral("op"), name}};
}

session::TransferActivity activityOf(const QJsonObject& session) {
    session::TransferActivity a;
    a.sentTotal = qint64(session.value(QStringLiteral("sent")).toDouble());
    a.receivedTotal = qint64(session.value(QStringLiteral("received")).toDouble());
    const QJsonObject t = session.value(QStringLiteral("transfer")).toObject();
    if (t.isEmpty())
        return a;
    a.direction = t.value(QStringLiteral("direction")).toString() == QLatin1String("upload")
                      ? session::TransferActivity::Direction::Upload
                      : session::TransferActivity::Direction::Download;
    a.path = t.value(QStringLiteral("path")).toString();
    a.bytes = qint64(t.value(QStringLiteral("bytes")).toDouble());
    a.size = qint64(t.value(QStringLiteral("size")).toDouble(-1));
    return a;
}

QString keyOf(quint64 id) {
    return QStringLiteral("k") + QString::number(id); // as monitor::onlineKey
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
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &AttachedServer::poll);
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

void AttachedServer::detach() {
    poll_.stop();
    connection_.disconnectQuietly();
    const bool hadSessions = !sessions_.isEmpty();
    attached_ = false;
    sessionsAsked_ = false;
    sessions_.clear();
    bans_.clear();
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
        // Attached once following: every line after that moment reaches the window.
        ask(op(QStringLiteral("follow")), [this](const QJsonObject&) {
            attached_ = true;
            askSessions();
            askBans();
            poll_.start();
            Q_EMIT attached();
        });
    });
}

void AttachedServer::onEvent(const QJsonObject& event) {
    const QString name = event.value(QStringLiteral("event")).toString();
    if (name == QLatin1String("log")) {
        Q_EMIT logLine(event.value(QStringLiteral("line")).toString());
    } else if (name == QLatin1String("loggedIn") || name == QLatin1String("closed") ||
               name == QLatin1String("opened")) {
        askSessions();
    }
}

void AttachedServer::onClosed() {
    const bool was = attached_;
    poll_.stop();
    attached_ = false;
    sessionsAsked_ = false;
    sessions_.clear();
    bans_.clear();
    Q_EMIT sessionsChanged();
    if (was)
        Q_EMIT gone(connection_.error());
}

void AttachedServer::poll() {
    askSessions();
    askBans();
}

void AttachedServer::askSessions() {
    if (sessionsAsked_)
        return;
    sessionsAsked_ = true;
    ask(op(QStringLiteral("sessions")), [this](const QJsonObject& answer) {
        sessionsAsked_ = false;
        QList<Session> now;
        for (const QJsonValue& value : answer.value(QStringLiteral("sessions")).toArray()) {
            const QJsonObject s = value.toObject();
            now.append({quint64(s.value(QStringLiteral("id")).toDouble()),
                        s.value(QStringLiteral("login")).toString(),
                        s.value(QStringLiteral("address")).toString(),
                        s.value(QStringLiteral("root")).toString(),
                        s.value(QStringLiteral("rights")).toString(), activityOf(s),
                        s.value(QStringLiteral("refused")).toString()});
        }
        // Only a change of who is there rebuilds the list; counters are read on the next tick.
        const bool changed =
            !std::equal(now.cbegin(), now.cend(), sessions_.cbegin(), sessions_.cend(),
                        [](const Session& a, const Session& b) {
                            return a.id == b.id && a.login == b.login && a.refused == b.refused;
                        });
        sessions_ = now;
        if (changed)
            Q_EMIT sessionsChanged();
    });
}

void AttachedServer::askBans() {
    ask(op(QStringLiteral("bans")), [this](const QJsonObject& answer) {
        QList<session::BanEntry> now;
        for (const QJsonValue& value : answer.value(QStringLiteral("bans")).toArray()) {
            const QJsonObject b = value.toObject();
            session::BanEntry entry;
            entry.address = b.value(QStringLiteral("address")).toString();
            entry.attempts = b.value(QStringLiteral("attempts")).toInt();
            entry.msLeft = qint64(b.value(QStringLiteral("secondsLeft")).toDouble()) * 1000;
            now.append(entry);
        }
        // Only a change of who is banned, or of their attempts, redraws the list.
        const bool changed =
            !std::equal(now.cbegin(), now.cend(), bans_.cbegin(), bans_.cend(),
                        [](const session::BanEntry& a, const session::BanEntry& b) {
                            return a.address == b.address && a.attempts == b.attempts;
                        });
        bans_ = now;
        if (changed)
            Q_EMIT bansChanged();
    });
}

QList<monitor::OnlineRow> AttachedServer::onlineRows(const QString& defaultRoot) const {
    QList<monitor::OnlineRow> rows;
    for (const Session& s : sessions_) {
        monitor::OnlineRow row;
        row.key = keyOf(s.id);
        // The password is not sent over the channel: the column stays empty.
        row.columns = {s.login, QString(), s.address, s.root.isEmpty() ? defaultRoot : s.root,
                       monitor::EsplicitaPermessi(s.rights)};
        if (!s.refused.isEmpty()) // as the window's own server shows it
            row.columns = {s.login, QString(), s.address, QString(),
                           monitor::refusedLoginText(s.refused)};
        rows.append(row);
    }
    return rows;
}

QList<ServerSource::Live> AttachedServer::liveReadings() const {
    QList<Live> list;
    for (const Session& s : sessions_) {
        // The rate bookkeeping tells sessions apart by an opaque key; the
        // session number, unique in the server's life, serves as one.
        const auto rateKey = reinterpret_cast<monitor::TransferRates::Key>(quintptr(s.id));
        list.append({keyOf(s.id), {rateKey, s.activity}});
    }
    return list;
}

void AttachedServer::disconnectSession(const QString& key) {
    for (const Session& s : std::as_const(sessions_)) {
        if (keyOf(s.id) == key) {
            ask({{QStringLiteral("op"), QStringLiteral("kick")},
                 {QStringLiteral("id"), qint64(s.id)}},
                [this](const QJsonObject&) { askSessions(); });
            return;
        }
    }
}

void AttachedServer::unban(const QString& address) {
    ask({{QStringLiteral("op"), QStringLiteral("unban")}, {QStringLiteral("address"), address}},
        [this](const QJsonObject&) { askBans(); });
}

void AttachedServer::ban(const QString& address, qint64 minutes) {
    QJsonObject request{{QStringLiteral("op"), QStringLiteral("ban")},
                        {QStringLiteral("address"), address}};
    if (minutes > 0)
        request.insert(QStringLiteral("minutes"), minutes);
    ask(request, [this](const QJsonObject&) { askBans(); });
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
