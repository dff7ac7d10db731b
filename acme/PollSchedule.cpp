#include "acme/PollSchedule.h"

#include <QLocale>
#include <QtGlobal>

namespace kv::acme {

namespace {

constexpr qint64 kDayMs = 24 * 3600 * 1000LL;

// Retry-After holds seconds or an HTTP date; -1 when it holds neither.
qint64 retryAfterMs(const QByteArray& header, const QDateTime& now) {
    const QByteArray value = header.trimmed();
    if (value.isEmpty())
        return -1;
    bool isNumber = false;
    const qint64 seconds = value.toLongLong(&isNumber);
    if (isNumber)
        return qBound(qint64(0), seconds, kDayMs / 1000) * 1000;
    // An HTTP date ends in "GMT", which Qt's RFC 2822 reading does not take.
    QDateTime when = QLocale::c().toDateTime(QString::fromLatin1(value),
                                             QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
    when.setTimeSpec(Qt::UTC);
    if (!when.isValid())
        return -1;
    return qBound(qint64(0), now.msecsTo(when), kDayMs);
}

} // namespace

PollSchedule::PollSchedule(int firstMs, int usualMs, int longestMs)
    : firstMs_(qMin(firstMs, usualMs)), usualMs_(usualMs), longestMs_(longestMs),
      backoffMs_(firstMs_) {}

void PollSchedule::restart() {
    backoffMs_ = firstMs_;
}

int PollSchedule::nextDelayMs(const QByteArray& retryAfter, const QDateTime& now) {
    if (const qint64 asked = retryAfterMs(retryAfter, now); asked >= 0)
        return int(qMin(asked, qint64(longestMs_)));
    const int delay = backoffMs_;
    backoffMs_ = qMin(backoffMs_ * 2, usualMs_);
    return qMin(delay, longestMs_);
}

} // namespace kv::acme
