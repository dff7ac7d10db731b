// One flow's side: its chain of buckets as the book says now, what it may
// move, and its place in a queue while it waits.
#include "session/RateLimiter.h"

#include <algorithm>

namespace kv::session {

namespace {

qint64 bytesPerSecond(qint64 kib) {
    return kib > 0 ? kib * 1024 : 0;
}

} // namespace

RateFlow::RateFlow(RateLimiter& limiter, RatePlace place, RateDirection direction)
    : limiter_(limiter), place_(std::move(place)), direction_(direction) {}

RateFlow::~RateFlow() {
    limiter_.dequeue(*this);
    std::replace(limiter_.waking_.begin(), limiter_.waking_.end(), this,
                 static_cast<RateFlow*>(nullptr));
}

void RateFlow::setWake(std::function<void()> wake) {
    wake_ = std::move(wake);
    if (!wake_ && queuedIn_)
        leaveQueue();
}

void RateFlow::leaveQueue() {
    const bool first = queuedIn_ && queuedIn_->queue.front() == this;
    limiter_.dequeue(*this);
    if (first)
        limiter_.schedule(); // the next in line may be due now
}

void RateFlow::refresh() {
    leaveQueue();
    chain_.clear();
    version_ = limiter_.book_.version();
    const ServerLimits& server = limiter_.book_.server();
    const files::AccountLimits account = place_.accountId == files::kNoAccountId
                                             ? files::AccountLimits{}
                                             : limiter_.book_.account(place_.accountId);
    const bool up = direction_ == RateDirection::Up;
    const qint64 session =
        bytesPerSecond(up ? account.sessionRateUpKib : account.sessionRateDownKib);
    const qint64 total = bytesPerSecond(up ? account.rateUpKib : account.rateDownKib);
    const qint64 address = bytesPerSecond(up ? server.addressRateUpKib : server.addressRateDownKib);
    const qint64 whole = bytesPerSecond(up ? server.rateUpKib : server.rateDownKib);
    if (session + total + address + whole == 0)
        return;
    if (server.localExempt && place_.isLocal && place_.isLocal())
        return;
    const auto add = [&](qint64 rate, const QString& key) {
        if (rate > 0)
            chain_.push_back(limiter_.bucket(key, direction_, rate));
    };
    add(session, QStringLiteral("s%1").arg(place_.sessionId));
    add(total, QStringLiteral("a%1").arg(place_.accountId));
    add(address, QStringLiteral("i") + place_.address);
    add(whole, QStringLiteral("*"));
}

bool RateFlow::limited() {
    if (version_ != limiter_.book_.version())
        refresh();
    return !chain_.empty();
}

qint64 RateFlow::limitBytesPerSecond() {
    if (!limited())
        return 0;
    qint64 tightest = chain_.front()->tokens.rate();
    for (const auto& b : chain_)
        tightest = std::min(tightest, b->tokens.rate());
    return tightest;
}

qint64 RateFlow::allowance(qint64 want) {
    if (want <= 0 || !limited())
        return std::max<qint64>(want, 0);
    const qint64 now = limiter_.now();
    qint64 grant = want;
    Bucket* queueAhead = nullptr; // a bucket where others wait before us
    Bucket* slowest = nullptr;    // the bucket whose tokens come last
    qint64 slowestWait = -1;
    for (const auto& b : chain_) {
        if (!b->queue.empty() && b->queue.front() != this) {
            if (!queueAhead)
                queueAhead = b.get();
            continue;
        }
        const qint64 need = b->tokens.threshold(want);
        const qint64 held = b->tokens.tokens(now);
        if (held >= need) {
            grant = std::min({grant, held, b->tokens.quantum()});
            continue;
        }
        const qint64 wait = b->tokens.nsUntil(need, now);
        if (wait > slowestWait) {
            slowestWait = wait;
            slowest = b.get();
        }
    }
    Bucket* waitIn = queueAhead ? queueAhead : slowest;
    if (!waitIn) {
        leaveQueue();
        return grant;
    }
    need_ = waitIn->tokens.threshold(want);
    if (queuedIn_ != waitIn) {
        leaveQueue();
        limiter_.enqueue(*this, *waitIn);
    }
    limiter_.schedule();
    return 0;
}

void RateFlow::charge(qint64 bytes) {
    if (bytes <= 0 || chain_.empty())
        return;
    for (const auto& b : chain_)
        b->tokens.take(bytes);
}

} // namespace kv::session
