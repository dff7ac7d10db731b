#pragma once
// When the ACME certificate is renewed and when a failed attempt is tried
// again: plain values in, plain values out, so no timer or clock is needed
// to decide (the keeper brings the time and the randomness).

#include <QDateTime>

#include <optional>

namespace kv::acme_schedule {

// The renewal information's suggested window (RFC 9773), in UTC.
struct RenewalWindow {
    QDateTime start;
    QDateTime end;
};

inline constexpr qint64 kFirstRetryMs = 5 * 60 * 1000;
inline constexpr qint64 kLongestRetryMs = 6 * 60 * 60 * 1000;
inline constexpr qint64 kWarningDays = 14;

// When to renew a certificate valid from `notBefore` to `notAfter`: once
// `percent` of its lifetime has passed, or earlier at the point `jitter`
// (0 to 1) of the CA's window when it suggested one.
QDateTime renewalTime(const QDateTime& notBefore, const QDateTime& notAfter, int percent,
                      const std::optional<RenewalWindow>& window, double jitter);

// The wait before trying again after `failuresInARow` (1 or more) failed
// attempts: 5 minutes doubling up to 6 hours, moved by up to a tenth
// either way by `jitter` (0 to 1; 0.5 leaves it as it is).
qint64 retryDelayMs(int failuresInARow, double jitter);

// Whether the expiry warning is due at `now` for a certificate ending at
// `notAfter`: from 14 days before, once per certificate (`warnedFor` is the
// expiry already warned about).
bool expiryWarningDue(const QDateTime& now, const QDateTime& notAfter, const QDateTime& warnedFor);

} // namespace kv::acme_schedule
