// The server's events sent to the clients that follow them.
#include "adminchannel/AdminChannel.h"

#include "adminchannel/AdminChannelClient.h"
#include "core/ProgramCore.h"

namespace kv {

template <typename Build> void AdminChannel::broadcast(Build build) {
    QList<Client*> followers;
    for (Client* client : std::as_const(clients_)) {
        if (client->following)
            followers.append(client);
    }
    if (followers.isEmpty())
        return;
    const QByteArray line = adminLine(build());
    for (Client* client : std::as_const(followers))
        send(client, line);
}

void AdminChannel::followServerEvents() {
    auto& bus = core_.notifications();
    connect(&bus, &events::ServerEvents::logLine, this, [this](const events::LogLine& line) {
        broadcast([&] { return AdminOperations::logEvent(line); });
    });
    connect(&bus, &events::ServerEvents::sessionOpened, this, [this](const events::SessionInfo& s) {
        broadcast([&] { return AdminOperations::sessionEvent(QStringLiteral("opened"), s); });
    });
    connect(&bus, &events::ServerEvents::loggedIn, this, [this](const events::SessionInfo& s) {
        broadcast([&] { return operations_.loggedInEvent(s); });
    });
    connect(&bus, &events::ServerEvents::loginFailed, this, [this](const events::LoginFailure& f) {
        broadcast([&] { return AdminOperations::loginFailedEvent(f); });
    });
    connect(&bus, &events::ServerEvents::sessionClosed, this, [this](const events::SessionInfo& s) {
        progressSent_.remove(s.id);
        broadcast([&] { return AdminOperations::sessionEvent(QStringLiteral("closed"), s); });
    });
    connect(&bus, &events::ServerEvents::transferStarted, this,
            [this](const events::TransferEvent& t) {
                broadcast([&] {
                    return operations_.countedTransferEvent(QStringLiteral("transferStarted"), t);
                });
            });
    connect(&bus, &events::ServerEvents::transferFinished, this,
            [this](const events::TransferEvent& t) {
                progressSent_.remove(t.session.id);
                broadcast([&] {
                    return operations_.countedTransferEvent(QStringLiteral("transferFinished"), t);
                });
            });
    connect(&bus, &events::ServerEvents::addressBanned, this, [this](const events::AddressBan& b) {
        broadcast([&] { return AdminOperations::banEvent(b); });
    });
    connect(&bus, &events::ServerEvents::banLifted, this, [this](const QString& address) {
        broadcast([&] { return AdminOperations::banLiftedEvent(address); });
    });
    connect(&operations_, &AdminOperations::dataChanged, this, [this] {
        broadcast([] { return QJsonObject{{QStringLiteral("event"), "dataChanged"}}; });
    });
}

void AdminChannel::onProgress(const events::TransferEvent& t) {
    // A few a second per session are enough to draw rates; the rest is
    // not worth a line to every follower.
    QElapsedTimer& last = progressSent_[t.session.id];
    if (last.isValid() && last.elapsed() < kProgressEveryMs)
        return;
    last.start();
    broadcast(
        [&] { return operations_.countedTransferEvent(QStringLiteral("transferProgress"), t); });
}

void AdminChannel::updateProgressSubscription() {
    const bool anyFollower = std::any_of(clients_.cbegin(), clients_.cend(),
                                         [](const Client* c) { return c->following; });
    if (anyFollower && !progress_) {
        // Progress costs the engine a timer per transfer: only while watched.
        progress_ = connect(&core_.notifications(), &events::ServerEvents::transferProgress, this,
                            &AdminChannel::onProgress);
    } else if (!anyFollower && progress_) {
        disconnect(progress_);
        progress_ = {};
        progressSent_.clear();
    }
}

} // namespace kv
