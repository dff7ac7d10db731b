// The lines the administration channel's followers get for the bus's
// events: enough for a window to keep its session and ban lists without
// asking again.
#include "adminchannel/AdminOperations.h"

#include "core/ProgramCore.h"

namespace kv {

namespace {

QString kindName(events::TransferKind kind) {
    switch (kind) {
    case events::TransferKind::Upload:
        return QStringLiteral("upload");
    case events::TransferKind::Listing:
        return QStringLiteral("listing");
    case events::TransferKind::Download:
        break;
    }
    return QStringLiteral("download");
}

QString outcomeName(events::TransferOutcome outcome) {
    switch (outcome) {
    case events::TransferOutcome::Complete:
        return QStringLiteral("complete");
    case events::TransferOutcome::Aborted:
        return QStringLiteral("aborted");
    case events::TransferOutcome::Failed:
        return QStringLiteral("failed");
    case events::TransferOutcome::Running:
        break;
    }
    return QStringLiteral("running");
}

} // namespace

QJsonObject AdminOperations::logEvent(const events::LogLine& line) {
    QJsonObject event = line.session
                            ? sessionEvent(QStringLiteral("log"), *line.session)
                            : QJsonObject{{QStringLiteral("event"), QStringLiteral("log")}};
    event.insert(QStringLiteral("line"), line.line);
    return event;
}

QJsonObject AdminOperations::sessionEvent(const QString& event, const events::SessionInfo& s) {
    return {{QStringLiteral("event"), event},
            {QStringLiteral("id"), qint64(s.id)},
            {QStringLiteral("address"), s.address},
            {QStringLiteral("login"), s.login},
            {QStringLiteral("protocol"), events::protocolName(s.protocol)}};
}

QJsonObject AdminOperations::transferEvent(const QString& event, const events::TransferEvent& t) {
    QJsonObject object = sessionEvent(event, t.session);
    object.insert(QStringLiteral("direction"), kindName(t.kind));
    object.insert(QStringLiteral("path"), t.clientPath);
    object.insert(QStringLiteral("bytes"), t.bytes);
    object.insert(QStringLiteral("size"), t.size);
    object.insert(QStringLiteral("outcome"), outcomeName(t.outcome));
    // Only a limited transfer says so: missing means none, as from a server
    // that knows no limits.
    if (t.limitBytesPerSecond > 0)
        object.insert(QStringLiteral("limit"), t.limitBytesPerSecond);
    if (!t.reason.isEmpty())
        object.insert(QStringLiteral("reason"), t.reason);
    return object;
}

QJsonObject AdminOperations::loggedInEvent(const events::SessionInfo& s) const {
    QJsonObject event = sessionEvent(QStringLiteral("loggedIn"), s);
    // What the login granted, for a list that shows it.
    if (const session::ConnectionObject* c = connectionWith(s.id); c && c->Grant()) {
        event.insert(QStringLiteral("root"), c->Grant()->root);
        event.insert(QStringLiteral("rights"), c->Grant()->rights.letters());
    }
    return event;
}

QJsonObject AdminOperations::loginFailedEvent(const events::LoginFailure& failure) {
    QJsonObject event = sessionEvent(QStringLiteral("loginFailed"), failure.session);
    event.insert(QStringLiteral("refused"), failure.reason);
    return event;
}

QJsonObject AdminOperations::countedTransferEvent(const QString& name,
                                                  const events::TransferEvent& t) const {
    QJsonObject event = transferEvent(name, t);
    // The session's totals, for a client working out rates.
    if (const session::ConnectionObject* c = connectionWith(t.session.id)) {
        const session::TransferActivity activity = c->Activity();
        event.insert(QStringLiteral("sent"), activity.sentTotal);
        event.insert(QStringLiteral("received"), activity.receivedTotal);
    }
    return event;
}

QJsonObject AdminOperations::banEvent(const events::AddressBan& ban) {
    return {{QStringLiteral("event"), QStringLiteral("banned")},
            {QStringLiteral("address"), ban.address},
            {QStringLiteral("attempts"), ban.attempts},
            {QStringLiteral("secondsLeft"), (ban.durationMs + 999) / 1000}};
}

QJsonObject AdminOperations::banLiftedEvent(const QString& address) {
    return {{QStringLiteral("event"), QStringLiteral("banLifted")},
            {QStringLiteral("address"), address}};
}

const session::ConnectionObject* AdminOperations::connectionWith(quint64 id) const {
    for (const session::ConnectionObject* c : core_.connections()) {
        if (c->Id() == id)
            return c;
    }
    return nullptr;
}

} // namespace kv
