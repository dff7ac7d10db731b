// Queued items, a short slice of them per event-loop pass.
#include "ftp/TurnQueue.h"

#include <QElapsedTimer>

namespace kv::ftp {

namespace {
// Items run on one pass until this much time went by (at least one item):
// quick items (clear-text passwords) go many at a time, slow ones (hashes)
// one at a time.
constexpr qint64 kSliceNs = 2'000'000;
} // namespace

TurnQueue::TurnQueue(QObject* parent) : QObject(parent) {
    turn_.setInterval(0);
    connect(&turn_, &QTimer::timeout, this, &TurnQueue::runSlice);
}

void TurnQueue::post(QObject* owner, std::function<void()> work) {
    items_.append({owner, std::move(work)});
    if (!turn_.isActive())
        turn_.start();
}

void TurnQueue::runSlice() {
    QElapsedTimer slice;
    slice.start();
    // Bounded by the items queued when the slice began; owners that went
    // away leave their items behind, skipped for free.
    for (qsizetype n = items_.size(); n > 0 && !items_.isEmpty(); --n) {
        Item item = items_.takeFirst();
        if (!item.owner)
            continue;
        item.work();
        if (slice.nsecsElapsed() >= kSliceNs)
            break;
    }
    if (items_.isEmpty())
        turn_.stop();
}

} // namespace kv::ftp
