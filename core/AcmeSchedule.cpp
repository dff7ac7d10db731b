// The renewal schedule's arithmetic.
#include "core/AcmeSchedule.h"

#include <algorithm>

namespace kv::acme_schedule {

QDateTime renewalTime(const QDateTime& notBefore, const QDateTime& notAfter, int percent,
                      const std::optional<RenewalWindow>& window, double jitter) {
    const qint64 lifetime = std::max<qint64>(0, notBefore.msecsTo(notAfter));
    QDateTime when = notBefore.addMSecs(lifetime * std::clamp(percent, 1, 99) / 100);
    if (window && window->start.isValid() && window->start <= window->end) {
        const qint64 span = window->start.msecsTo(window->end);
        const QDateTime suggested =
            window->start.addMSecs(qint64(double(span) * std::clamp(jitter, 0.0, 1.0)));
        when = std::min(when, suggested);
    }
    return when.toUTC();
}

qint64 retryDelayMs(int failuresInARow, double jitter) {
    qint64 delay = kFirstRetryMs;
    for (int failure = 1; failure < failuresInARow && delay < kLongestRetryMs; ++failure)
        delay *= 2;
    delay = std::min(delay, kLongestRetryMs);
    const double factor = 0.9 + 0.2 * std::clamp(jitter, 0.0, 1.0);
    return qint64(double(delay) * factor);
}

bool expiryWarningDue(const QDateTime& now, const QDateTime& notAfter, const QDateTime& warnedFor) {
    if (!notAfter.isValid() || warnedFor == notAfter)
        return false;
    return now >= notAfter.addDays(-kWarningDays);
}

} // namespace kv::acme_schedule
