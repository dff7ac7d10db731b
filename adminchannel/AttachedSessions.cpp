// An attached server's sessions: the list asked for once, kept by the
// session and transfer events, shown as the online list's rows.
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

// A transfer's speed limit as the server tells it; missing (a server that
// knows no limits) or unreadable: none.
qint64 limitOf(const QJsonObject& transfer) {
    return std::max<qint64>(0, qint64(transfer.value(QStringLiteral("limit")).toDouble()));
}

QString keyOf(quint64 id) {
    return QStringLiteral("k") + QString::number(id); // as monitor::onlineKey
}

} // namespace

AttachedServer::Session* AttachedServer::sessionWith(quint64 id) {
    for (Session& s : sessions_) {
        if (s.id == id)
            return &s;
    }
    return nullptr;
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

} // namespace kv
