#include "session/TokenBucket.h"

#include <algorithm>
#include <cmath>

namespace kv::session {

namespace {
constexpr double kNsPerSecond = 1e9;
} // namespace

TokenBucket::TokenBucket(qint64 bytesPerSecond, qint64 nowNs) : lastNs_(nowNs) {
    setRate(bytesPerSecond, nowNs);
}

void TokenBucket::setRate(qint64 bytesPerSecond, qint64 nowNs) {
    refill(nowNs);
    rate_ = std::max<qint64>(bytesPerSecond, 0);
    quantum_ = std::clamp<qint64>(rate_ / 20, kMinQuantum, kMaxQuantum);
    tokens_ = std::min(tokens_, double(capacity()));
}

void TokenBucket::refill(qint64 nowNs) {
    if (nowNs > lastNs_ && rate_ > 0)
        tokens_ = std::min(tokens_ + double(nowNs - lastNs_) * double(rate_) / kNsPerSecond,
                           double(capacity()));
    lastNs_ = std::max(lastNs_, nowNs);
}

qint64 TokenBucket::tokens(qint64 nowNs) {
    refill(nowNs);
    return qint64(std::floor(tokens_));
}

qint64 TokenBucket::nsUntil(qint64 bytes, qint64 nowNs) {
    refill(nowNs);
    const double missing = double(bytes) - tokens_;
    if (missing <= 0 || rate_ <= 0)
        return 0;
    return qint64(std::ceil(missing * kNsPerSecond / double(rate_)));
}

} // namespace kv::session
