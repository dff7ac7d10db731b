#pragma once
// The bookkeeping behind the online panel's live transfers, without widgets:
// polled about once a second with what each connection has moved, it keeps
// every connection's rate, the total download and upload rates and the last
// five minutes of them for the graph, and makes the texts the panel shows.

#include "session/LoginDecision.h"

#include <QHash>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <array>
#include <deque>

namespace kv::monitor {

// Bytes per second, sent to clients (down) and received from them (up).
struct RatePoint {
    double down = 0;
    double up = 0;
    friend bool operator==(const RatePoint&, const RatePoint&) = default;
};

inline constexpr int kRateHistoryPoints = 300; // one a second: five minutes

class TransferRates {
public:
    // A connection's identity between polls (its address; a new connection
    // that reuses one is told apart by counters that went back).
    using Key = const void*;
    struct Reading {
        Key connection = nullptr;
        session::TransferActivity activity;
    };

    // One poll at `nowMs` of a monotonic clock. The first poll only sets the
    // baseline; later ones add one history point each. A connection new
    // since the last poll counts everything it has moved.
    void sample(const QList<Reading>& readings, qint64 nowMs);
    // Over the last poll; 0 for an unknown connection.
    double rateOf(Key connection) const { return rates_.value(connection); }
    RatePoint total() const { return history_.empty() ? RatePoint{} : history_.back(); }
    // Oldest first, at most kRateHistoryPoints.
    const std::deque<RatePoint>& history() const { return history_; }
    // The graph's full scale: the history's highest rate rounded up to 1, 2
    // or 5 times a power of ten KB/s, MB/s or GB/s (at least 1 KB/s).
    double scale() const;
    // The server stopped: rates and history start again.
    void clear();

private:
    struct Moved {
        qint64 sent = 0;
        qint64 received = 0;
    };
    QHash<Key, Moved> moved_;
    QHash<Key, double> rates_;
    std::deque<RatePoint> history_;
    qint64 lastMs_ = -1;
};

// "0 B/s", "980 B/s", "12,5 KB/s", "3,4 MB/s" (1 KB = 1024 bytes).
QString rateText(double bytesPerSecond);
// "512 B", "1,5 MB".
QString byteText(qint64 bytes);
// "Upload: 1,2 MB/s  Download: 0 B/s" for the status bar.
QString totalRatesText(const RatePoint& total);

// The live columns after the online list's own: "File", "Direzione",
// "Trasferiti", "Velocità", "Avanzamento". Empty without a running transfer;
// the progress only when the size is known ("42%"); a limited transfer's
// speed with its limit beside it ("3,0 MB/s (limite 5,0 MB/s)").
inline constexpr int kLiveColumns = 5;
const QStringList& liveHeaders();
std::array<QString, kLiveColumns> liveColumns(const session::TransferActivity& activity,
                                              double rate, qint64 limitBytesPerSecond = 0);

// The graph's line for one direction across `area`: the newest point at the
// right edge, one step per second, `scale` at the top.
QList<QPointF> graphLine(const std::deque<RatePoint>& history, bool upload, const QRectF& area,
                         double scale);

} // namespace kv::monitor
