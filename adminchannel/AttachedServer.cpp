// Another program's server, through its administration channel.
#include "adminchannel/AttachedServer.h"

#include <QJsonArray>

#include <algorithm>
#include <limits>

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

// A transfer's speed limit as the server tells it; missing (a server that
// knows no limits) or unreadable: none.
qint64 limitOf(const QJsonObject& transfer) {
    return std::max<qint64>(0, qint64(transfer.value(QStringLiteral("limit")).toDouble()));
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

AttachedServer::Session* AttachedServer::sessionWith(quint64 id) {
    for (Session& s : sessions_) {
        if (s.id == id)
            return &s;
    }
    return nullptr;
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

void AttachedServer::onSessionEvent(const QString& name, const QJsonObject& event) {
    const quint64 id = quint64(event.value(QStringLiteral("id")).toDouble());
    if (id == 0)
        return;
    Session* s = sessionWith(id);
    if (name == QLatin1String("closed")) {
        if (!s)
            return;
        sessions_.removeIf([id](const Session& each) { return each.id == id; });
        Q_EMIT sessionGone(keyOf(id));
        return;
    }
    if (name != QLatin1String("opened") && name != QLatin1String("loggedIn") &&
        name != QLatin1String("loginFailed"))
        return; // a kind this window does not know
    if (!s) {
        sessions_.append(Session{});
        s = &sessions_.last();
        s->id = id;
    }
    s->address = event.value(QStringLiteral("address")).toString();
    s->login = event.value(QStringLiteral("login")).toString();
    if (name == QLatin1String("loggedIn")) {
        s->root = event.value(QStringLiteral("root")).toString();
        s->rights = event.value(QStringLiteral("rights")).toString();
        s->refused.clear();
    } else if (name == QLatin1String("loginFailed")) {
        s->root.clear();
        s->rights.clear();
        s->refused = event.value(QStringLiteral("refused")).toString();
    }
    Q_EMIT sessionChanged(keyOf(id));
}

void AttachedServer::onTransferEvent(const QString& name, const QJsonObject& event) {
    Session* s = sessionWith(quint64(event.value(QStringLiteral("id")).toDouble()));
    if (!s)
        return;
    session::TransferActivity& a = s->activity;
    // The totals come with the event; a server that does not send them
    // leaves the last ones known.
    a.sentTotal = qint64(event.value(QStringLiteral("sent")).toDouble(double(a.sentTotal)));
    a.receivedTotal =
        qint64(event.value(QStringLiteral("received")).toDouble(double(a.receivedTotal)));
    const QString direction = event.value(QStringLiteral("direction")).toString();
    if (direction == QLatin1String("listing"))
        return; // no file of its own: only the totals move
    if (name == QLatin1String("transferFinished")) {
        s->limit = 0;
        a.direction = session::TransferActivity::Direction::None;
        a.path.clear();
        a.bytes = 0;
        a.size = -1;
        return;
    }
    a.direction = direction == QLatin1String("upload")
                      ? session::TransferActivity::Direction::Upload
                      : session::TransferActivity::Direction::Download;
    a.path = event.value(QStringLiteral("path")).toString();
    a.bytes = qint64(event.value(QStringLiteral("bytes")).toDouble());
    a.size = qint64(event.value(QStringLiteral("size")).toDouble(-1));
    s->limit = limitOf(event);
}

void AttachedServer::onBanEvent(const QString& name, const QJsonObject& event) {
    const QString address = event.value(QStringLiteral("address")).toString();
    bans_.removeIf([&address](const Ban& b) { return b.address == address; });
    if (name == QLatin1String("banned")) {
        const qint64 seconds = qint64(event.value(QStringLiteral("secondsLeft")).toDouble());
        bans_.append({address, event.value(QStringLiteral("attempts")).toInt(),
                      QDeadlineTimer(seconds * 1000)});
    }
    expireBans(false);
    Q_EMIT bansChanged();
}

void AttachedServer::expireBans(bool tell) {
    const qsizetype before = bans_.size();
    bans_.removeIf([](const Ban& b) { return b.ends.hasExpired(); });
    qint64 next = -1;
    for (const Ban& b : std::as_const(bans_)) {
        const qint64 left = b.ends.remainingTime();
        if (next < 0 || left < next)
            next = left;
    }
    if (next >= 0)
        banEnds_.start(int(std::min<qint64>(next + 1, std::numeric_limits<int>::max())));
    else
        banEnds_.stop();
    if (tell && bans_.size() != before)
        Q_EMIT bansChanged();
}

QList<session::BanEntry> AttachedServer::bans() const {
    QList<session::BanEntry> list;
    for (const Ban& b : bans_) {
        if (b.ends.hasExpired())
            continue;
        session::BanEntry entry;
        entry.address = b.address;
        entry.attempts = b.attempts;
        entry.msLeft = b.ends.remainingTime();
        list.append(entry);
    }
    return list;
}

void AttachedServer::onClosed() {
    const bool was = attached_;
    forget();
    Q_EMIT sessionsChanged();
    Q_EMIT bansChanged();
    if (was)
        Q_EMIT gone(connection_.error());
}

void AttachedServer::askSessions() {
    ask(op(QStringLiteral("sessions")), [this](const QJsonObject& answer) {
        QList<Session> now;
        for (const QJsonValue& value : answer.value(QStringLiteral("sessions")).toArray()) {
            const QJsonObject s = value.toObject();
            now.append({quint64(s.value(QStringLiteral("id")).toDouble()),
                        s.value(QStringLiteral("login")).toString(),
                        s.value(QStringLiteral("address")).toString(),
                        s.value(QStringLiteral("root")).toString(),
                        s.value(QStringLiteral("rights")).toString(), activityOf(s),
                        s.value(QStringLiteral("refused")).toString(),
                        limitOf(s.value(QStringLiteral("transfer")).toObject())});
        }
        sessions_ = now;
        Q_EMIT sessionsChanged();
    });
}

void AttachedServer::askBans() {
    ask(op(QStringLiteral("bans")), [this](const QJsonObject& answer) {
        bans_.clear();
        for (const QJsonValue& value : answer.value(QStringLiteral("bans")).toArray()) {
            const QJsonObject b = value.toObject();
            const qint64 ms = qint64(b.value(QStringLiteral("secondsLeft")).toDouble()) * 1000;
            bans_.append({b.value(QStringLiteral("address")).toString(),
                          b.value(QStringLiteral("attempts")).toInt(), QDeadlineTimer(ms)});
        }
        expireBans(false);
        Q_EMIT bansChanged();
    });
}

namespace {

monitor::OnlineRow rowOf(const QString& key, const QString& login, const QString& address,
                         const QString& root, const QString& rights, const QString& refused) {
    monitor::OnlineRow row;
    row.key = key;
    // The password is not sent over the channel: the column stays empty.
    row.columns = {login, QString(), address, root, monitor::EsplicitaPermessi(rights)};
    if (!refused.isEmpty()) // as the window's own server shows it
        row.columns = {login, QString(), address, QString(), monitor::refusedLoginText(refused)};
    return row;
}

} // namespace

QList<monitor::OnlineRow> AttachedServer::onlineRows(const QString& defaultRoot) const {
    QList<monitor::OnlineRow> rows;
    for (const Session& s : sessions_)
        rows.append(rowOf(keyOf(s.id), s.login, s.address, s.root.isEmpty() ? defaultRoot : s.root,
                          s.rights, s.refused));
    return rows;
}

std::optional<monitor::OnlineRow> AttachedServer::onlineRow(const QString& key,
                                                            const QString& defaultRoot) const {
    for (const Session& s : sessions_) {
        if (keyOf(s.id) == key)
            return rowOf(key, s.login, s.address, s.root.isEmpty() ? defaultRoot : s.root, s.rights,
                         s.refused);
    }
    return std::nullopt;
}

QList<ServerSource::Live> AttachedServer::liveReadings() const {
    QList<Live> list;
    for (const Session& s : sessions_) {
        // The rate bookkeeping tells sessions apart by an opaque key; the
        // session number, unique in the server's life, serves as one.
        const auto rateKey = reinterpret_cast<monitor::TransferRates::Key>(quintptr(s.id));
        list.append({keyOf(s.id), {rateKey, s.activity}, s.limit});
    }
    return list;
}

void AttachedServer::disconnectSession(const QString& key) {
    for (const Session& s : std::as_const(sessions_)) {
        if (keyOf(s.id) == key) {
            // The row goes with the "closed" event that follows.
            ask({{QStringLiteral("op"), QStringLiteral("kick")},
                 {QStringLiteral("id"), qint64(s.id)}},
                {});
            return;
        }
    }
}

void AttachedServer::unban(const QString& address) {
    // The list follows the "banLifted" event.
    ask({{QStringLiteral("op"), QStringLiteral("unban")}, {QStringLiteral("address"), address}},
        {});
}

void AttachedServer::ban(const QString& address, qint64 minutes) {
    QJsonObject request{{QStringLiteral("op"), QStringLiteral("ban")},
                        {QStringLiteral("address"), address}};
    if (minutes > 0)
        request.insert(QStringLiteral("minutes"), minutes);
    ask(request, {}); // the list follows the "banned" event
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
