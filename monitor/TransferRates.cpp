// Rates from the byte counters polled once a second, their five-minute
// history, and the texts and graph points of the live view.
#include "monitor/TransferRates.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace kv::monitor {

namespace {

using Direction = session::TransferActivity::Direction;

// Three significant digits at most: "980 B", "12,5 KB", "512 KB".
QString scaled(double value, const char* const units[], int count) {
    int unit = 0;
    while (value >= 1000 && unit + 1 < count) { // "1,0 MB", never "1.000 KB"
        value /= 1024;
        ++unit;
    }
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    const int decimals = unit > 0 && value < 99.95 ? 1 : 0;
    return italian.toString(value, 'f', decimals) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

} // namespace

void TransferRates::sample(const QList<Reading>& readings, qint64 nowMs) {
    const bool baseline = lastMs_ < 0;
    const double seconds = baseline ? 0 : std::max<qint64>(nowMs - lastMs_, 1) / 1000.0;
    lastMs_ = nowMs;
    QHash<Key, Moved> moved;
    rates_.clear();
    RatePoint total;
    for (const Reading& r : readings) {
        const Moved now{r.activity.sentTotal, r.activity.receivedTotal};
        moved.insert(r.connection, now);
        if (baseline)
            continue;
        Moved before = moved_.value(r.connection);
        if (now.sent < before.sent || now.received < before.received)
            before = {}; // another connection at the same address
        const double down = double(now.sent - before.sent) / seconds;
        const double up = double(now.received - before.received) / seconds;
        rates_.insert(r.connection, down + up);
        total.down += down;
        total.up += up;
    }
    moved_ = std::move(moved);
    if (baseline)
        return;
    history_.push_back(total);
    while (history_.size() > size_t(kRateHistoryPoints))
        history_.pop_front();
}

double TransferRates::scale() const {
    double peak = 1024;
    for (const RatePoint& p : history_)
        peak = std::max({peak, p.down, p.up});
    // Rounded in the unit the label shows (KB/s, MB/s, GB/s).
    double unit = 1024;
    while (peak >= 1000 * unit && unit < 1024.0 * 1024 * 1024)
        unit *= 1024;
    const double value = peak / unit;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0}) {
        if (value <= step * power)
            return step * power * unit;
    }
    return 10 * power * unit;
}

void TransferRates::clear() {
    moved_.clear();
    rates_.clear();
    history_.clear();
    lastMs_ = -1;
}

QString rateText(double bytesPerSecond) {
    static const char* const units[] = {"B/s", "KB/s", "MB/s", "GB/s"};
    return scaled(std::max(bytesPerSecond, 0.0), units, 4);
}

QString byteText(qint64 bytes) {
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
    return scaled(double(std::max<qint64>(bytes, 0)), units, 5);
}

QString totalRatesText(const RatePoint& total) {
    return QStringLiteral("Upload: %1  Download: %2").arg(rateText(total.up), rateText(total.down));
}

const QStringList& liveHeaders() {
    static const QStringList headers{QStringLiteral("File"), QStringLiteral("Direzione"),
                                     QStringLiteral("Trasferiti"), QStringLiteral("Velocità"),
                                     QStringLiteral("Avanzamento")};
    return headers;
}

std::array<QString, kLiveColumns> liveColumns(const session::TransferActivity& a, double rate,
                                              qint64 limitBytesPerSecond) {
    if (a.direction == Direction::None)
        return {};
    QString progress;
    if (a.size > 0)
        progress =
            QString::number(std::clamp<qint64>(a.bytes * 100 / a.size, 0, 100)) + QLatin1Char('%');
    else if (a.size == 0)
        progress = QStringLiteral("100%");
    return {
        a.path,
        a.direction == Direction::Upload ? QStringLiteral("Upload") : QStringLiteral("Download"),
        byteText(a.bytes),
        limitBytesPerSecond > 0 ? QStringLiteral("%1 (limite %2)")
                                      .arg(rateText(rate), rateText(double(limitBytesPerSecond)))
                                : rateText(rate),
        progress};
}

QList<QPointF> graphLine(const std::deque<RatePoint>& history, bool upload, const QRectF& area,
                         double scale) {
    QList<QPointF> points;
    if (history.empty() || scale <= 0)
        return points;
    const double step = area.width() / (kRateHistoryPoints - 1);
    const double right = area.right();
    const size_t n = history.size();
    points.reserve(qsizetype(n));
    for (size_t i = 0; i < n; ++i) {
        const double value = upload ? history[i].up : history[i].down;
        const double fraction = std::clamp(value / scale, 0.0, 1.0);
        points.append({right - double(n - 1 - i) * step, area.bottom() - fraction * area.height()});
    }
    return points;
}

} // namespace kv::monitor
