#pragma once
// The monotonic clock the speed limits read; tests hand in their own.

#include <QtGlobal>

namespace kv::session {

class RateClock {
public:
    virtual ~RateClock() = default;
    virtual qint64 nowNs() const = 0;
};

// The system's monotonic clock (a vDSO read, no system call).
class SteadyRateClock : public RateClock {
public:
    qint64 nowNs() const override;
};

} // namespace kv::session
