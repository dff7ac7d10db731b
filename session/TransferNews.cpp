#include "session/TransferNews.h"

namespace kv::session {

TransferNews::TransferNews(events::ServerEvents* bus, Snapshot snapshot, QObject* parent)
    : QObject(parent), bus_(bus), snapshot_(std::move(snapshot)) {
    timer_.setInterval(kProgressMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (bus_)
            Q_EMIT bus_->transferProgress(now());
    });
}

events::TransferEvent TransferNews::now() const {
    events::TransferEvent e = snapshot_();
    if (limit_)
        e.limitBytesPerSecond = limit_();
    return e;
}

void TransferNews::started() {
    if (!bus_)
        return;
    Q_EMIT bus_->transferStarted(now());
    // Nobody listening: no timer at all.
    if (bus_->progressWanted())
        timer_.start();
}

void TransferNews::finished(const events::TransferEvent& event) {
    timer_.stop();
    if (bus_)
        Q_EMIT bus_->transferFinished(event);
}

} // namespace kv::session
