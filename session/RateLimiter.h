#pragma once
// The speed limits every protocol's transfers move under. Each transfer
// direction of a session has a RateFlow; its chain holds the token buckets
// that limit it now: its session's, its account's (shared by every session
// of the account, whatever the protocol), its address's and the server's,
// read from the LimitsBook. A flow asks how many bytes it may move now (the
// smallest grant of its chain) and is charged what it moved. When it may
// move nothing it waits in one bucket's queue, in order, and one timer of the
// limiter wakes the first waiter whose bucket has refilled. A flow no limit
// touches costs one comparison of the book's version per call: no clock, no
// timer, no lookup.

#include "files/LoginGrant.h"
#include "session/LimitsBook.h"
#include "session/RateClock.h"
#include "session/TokenBucket.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace kv::session {

enum class RateDirection { Up, Down }; // up: the client sends (uploads)

// Who a flow belongs to.
struct RatePlace {
    quint64 sessionId = 0;
    qint32 accountId = files::kNoAccountId;
    QString address; // the client's address, as the admission counts it
    // Whether the client is on the local network; asked only while such
    // clients are exempt and a limit would apply. Null: not local.
    std::function<bool()> isLocal;
};

class RateLimiter;

class RateFlow {
public:
    ~RateFlow();
    RateFlow(const RateFlow&) = delete;
    RateFlow& operator=(const RateFlow&) = delete;

    // What runs when a wait ends (the flow then asks again); null: nothing,
    // and the flow leaves any queue.
    void setWake(std::function<void()> wake);
    // Bytes of `want` that may move now. 0 (for a positive `want`): none,
    // and the wake runs once the limits allow more.
    qint64 allowance(qint64 want);
    // Counts `bytes` moved (possibly more than allowed: the debt is paid first).
    void charge(qint64 bytes);
    bool limited();
    bool waiting() const { return queuedIn_ != nullptr; }
    // The tightest limit on the chain now, bytes per second; 0: none.
    qint64 limitBytesPerSecond();

private:
    friend class RateLimiter;
    struct Bucket;
    RateFlow(RateLimiter& limiter, RatePlace place, RateDirection direction);
    void refresh();
    void leaveQueue();

    RateLimiter& limiter_;
    RatePlace place_;
    RateDirection direction_;
    quint64 version_ = 0;
    std::vector<std::shared_ptr<Bucket>> chain_;
    Bucket* queuedIn_ = nullptr; // a flow waits in one queue at a time
    qint64 need_ = 0;            // tokens it waits for there
    std::function<void()> wake_;
};

// One limit: its bucket and the flows waiting on it, first come first served.
struct RateFlow::Bucket {
    TokenBucket tokens;
    std::deque<RateFlow*> queue;
};

class RateLimiter : public QObject {
    Q_OBJECT
public:
    // `book` and `clock` (null: the system's monotonic clock) outlive the limiter.
    explicit RateLimiter(const LimitsBook& book, const RateClock* clock = nullptr,
                         QObject* parent = nullptr);
    ~RateLimiter() override;

    std::unique_ptr<RateFlow> flow(RatePlace place, RateDirection direction);

    // The one timer: running only while a flow waits.
    bool timerActive() const { return timer_.isActive(); }
    int timerIntervalMs() const { return timer_.interval(); }
    // Wakes the waiters whose time has come (what the timer runs).
    void wakeDue();

    // Longest wait before a changed limit reaches waiting flows.
    static constexpr qint64 kLongestWaitNs = 1'000'000'000;

private:
    friend class RateFlow;
    using Bucket = RateFlow::Bucket;
    std::shared_ptr<Bucket> bucket(const QString& key, RateDirection direction,
                                   qint64 bytesPerSecond);
    void enqueue(RateFlow& flow, Bucket& bucket);
    void dequeue(RateFlow& flow);
    void schedule();
    qint64 now() const { return clock_->nowNs(); }

    const LimitsBook& book_;
    SteadyRateClock steady_;
    const RateClock* clock_;
    quint64 seenVersion_ = 0;
    QHash<QString, std::weak_ptr<Bucket>> buckets_[2];
    std::vector<Bucket*> waitingBuckets_; // buckets whose queue is not empty
    std::vector<RateFlow*> waking_;       // flows being woken now (null: gone meanwhile)
    QTimer timer_;
};

} // namespace kv::session
