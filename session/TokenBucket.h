#pragma once
// A token bucket refilled lazily: nothing runs between calls, the tokens a
// call finds are worked out from the time since the last one. Tokens are
// bytes; a grant is at most one quantum (about a twentieth of a second's
// worth), so flows sharing the bucket take turns; a grant is made once half
// a quantum is there, so a late wake loses nothing, and the bucket holds at
// most one quantum, so an idle bucket gives no long burst. Taking more than
// it holds leaves it in debt, paid back before the next grant.

#include <QtGlobal>

#include <algorithm>

namespace kv::session {

class TokenBucket {
public:
    // A new bucket starts empty: its first bytes wait for their time.
    explicit TokenBucket(qint64 bytesPerSecond = 0, qint64 nowNs = 0);

    // A new rate from now on; the tokens held stay, within the new capacity.
    void setRate(qint64 bytesPerSecond, qint64 nowNs);
    qint64 rate() const { return rate_; }
    qint64 quantum() const { return quantum_; }
    qint64 capacity() const { return quantum_; }
    // Tokens held before a grant of up to `want` bytes is made.
    qint64 threshold(qint64 want) const {
        return std::min(std::max<qint64>(quantum_ / 2, 1), want);
    }

    // The whole tokens held at `nowNs` (negative while in debt).
    qint64 tokens(qint64 nowNs);
    void take(qint64 bytes) { tokens_ -= double(bytes); }
    // Nanoseconds from `nowNs` until `bytes` tokens are held; 0 when they are.
    qint64 nsUntil(qint64 bytes, qint64 nowNs);

    static constexpr qint64 kMinQuantum = 512;
    static constexpr qint64 kMaxQuantum = 256 * 1024;

private:
    void refill(qint64 nowNs);

    qint64 rate_ = 0;
    qint64 quantum_ = kMinQuantum;
    double tokens_ = 0;
    qint64 lastNs_ = 0;
};

} // namespace kv::session
