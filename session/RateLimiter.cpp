// The limiter's side: buckets by what they limit, the queues of waiting
// flows and the one timer that wakes them.
#include "session/RateLimiter.h"

#include <algorithm>
#include <chrono>

namespace kv::session {

qint64 SteadyRateClock::nowNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

RateLimiter::RateLimiter(const LimitsBook& book, const RateClock* clock, QObject* parent)
    : QObject(parent), book_(book), clock_(clock ? clock : &steady_), seenVersion_(book.version()) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &RateLimiter::wakeDue);
}

RateLimiter::~RateLimiter() = default;

std::unique_ptr<RateFlow> RateLimiter::flow(RatePlace place, RateDirection direction) {
    return std::unique_ptr<RateFlow>(new RateFlow(*this, std::move(place), direction));
}

std::shared_ptr<RateLimiter::Bucket>
RateLimiter::bucket(const QString& key, RateDirection direction, qint64 bytesPerSecond) {
    auto& byKey = buckets_[direction == RateDirection::Up ? 0 : 1];
    std::shared_ptr<Bucket> b = byKey.value(key).lock();
    if (!b) {
        // Buckets no flow holds any more are forgotten here, at a change.
        byKey.removeIf([](const auto& entry) { return entry.value().expired(); });
        b = std::make_shared<Bucket>(Bucket{TokenBucket(bytesPerSecond, now()), {}});
        byKey.insert(key, b);
    } else if (b->tokens.rate() != bytesPerSecond) {
        b->tokens.setRate(bytesPerSecond, now());
    }
    return b;
}

void RateLimiter::enqueue(RateFlow& flow, Bucket& bucket) {
    if (flow.queuedIn_ == &bucket)
        return;
    dequeue(flow);
    bucket.queue.push_back(&flow);
    flow.queuedIn_ = &bucket;
    if (bucket.queue.size() == 1)
        waitingBuckets_.push_back(&bucket);
}

void RateLimiter::dequeue(RateFlow& flow) {
    Bucket* b = std::exchange(flow.queuedIn_, nullptr);
    if (!b)
        return;
    std::erase(b->queue, &flow);
    if (b->queue.empty())
        std::erase(waitingBuckets_, b);
}

void RateLimiter::schedule() {
    if (waitingBuckets_.empty()) {
        timer_.stop();
        return;
    }
    const qint64 at = now();
    qint64 wait = kLongestWaitNs;
    for (Bucket* b : waitingBuckets_)
        wait = std::min(wait, b->tokens.nsUntil(b->queue.front()->need_, at));
    // Rounded up: a wake before the tokens are there would only wait again.
    const int ms = int((wait + 999'999) / 1'000'000);
    if (timer_.isActive() && timer_.interval() == ms)
        return;
    timer_.start(ms);
}

void RateLimiter::wakeDue() {
    const qint64 at = now();
    waking_.clear();
    if (book_.version() != seenVersion_) {
        // A limit changed: every waiting flow looks at its chain again.
        seenVersion_ = book_.version();
        for (Bucket* b : std::exchange(waitingBuckets_, {})) {
            for (RateFlow* f : b->queue) {
                f->queuedIn_ = nullptr;
                waking_.push_back(f);
            }
            b->queue.clear();
        }
    } else {
        // The first of each queue whose tokens are there; it stays first
        // until it takes them, so nobody passes it meanwhile.
        for (Bucket* b : waitingBuckets_) {
            RateFlow* first = b->queue.front();
            if (b->tokens.tokens(at) >= first->need_)
                waking_.push_back(first);
        }
    }
    // A wake may end other flows: their entries are cleared when they go.
    for (std::size_t i = 0; i < waking_.size(); ++i) {
        if (RateFlow* f = waking_[i]; f && f->wake_)
            f->wake_();
    }
    waking_.clear();
    schedule();
}

} // namespace kv::session
