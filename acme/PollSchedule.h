#pragma once
// When to ask the CA again about an authorization or order still in
// progress: after the CA's Retry-After when it names one (seconds or an HTTP
// date), cut to the longest wait; otherwise soon at first and twice as long
// each time up to the usual wait, so a CA that checks at once is seen at
// once and a slow one is not asked over and over.

#include <QByteArray>
#include <QDateTime>

namespace kv::acme {

class PollSchedule {
public:
    PollSchedule(int firstMs, int usualMs, int longestMs);

    // A new wait (a challenge answered, an order finalized) starts soon again.
    void restart();
    // The wait before the next poll; `retryAfter` is the header's value
    // (empty when absent), `now` the time it is read against.
    int nextDelayMs(const QByteArray& retryAfter, const QDateTime& now);

private:
    int firstMs_;
    int usualMs_;
    int longestMs_;
    int backoffMs_;
};

} // namespace kv::acme
