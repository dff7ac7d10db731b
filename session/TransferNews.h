#pragma once
// Tells the bus of one transfer, alike for every protocol: started, then
// progress about once a second while anybody listens for it, then finished.
// The protocol says what the transfer looks like now; this says when.

#include "events/ServerEvents.h"

#include <QObject>
#include <QTimer>
#include <functional>

namespace kv::session {

class TransferNews : public QObject {
    Q_OBJECT
public:
    using Snapshot = std::function<events::TransferEvent()>;

    // `bus` null: nothing is told. `snapshot` gives the transfer as it is now.
    TransferNews(events::ServerEvents* bus, Snapshot snapshot, QObject* parent = nullptr);

    // What the started and progress news give as the transfer's speed limit
    // (bytes per second, 0: none); null: none.
    void setLimit(std::function<qint64()> limit) { limit_ = std::move(limit); }
    // Tells transferStarted and, while anybody listens, starts the progress.
    void started();
    // Stops the progress and tells `event` as transferFinished.
    void finished(const events::TransferEvent& event);
    // Stops the progress without telling anything.
    void stop() { timer_.stop(); }

    static constexpr int kProgressMs = 1000;

private:
    events::TransferEvent now() const;

    events::ServerEvents* bus_;
    Snapshot snapshot_;
    std::function<qint64()> limit_;
    QTimer timer_;
};

} // namespace kv::session
