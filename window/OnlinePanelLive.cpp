// The online panel's live view: once a second the connections' byte
// counters are read, the rates worked out, the live columns of each row
// rewritten and the graph repainted. Nothing here runs per transferred chunk.
#include "window/OnlinePanel.h"

#include "window/RateGraph.h"

#include <QHash>
#include <QTreeWidget>

namespace kv::ui {

void OnlinePanel::refreshLive() {
    refreshLive(clock_.elapsed());
}

void OnlinePanel::refreshLive(qint64 nowMs) {
    const QList<ServerSource::Live> now =
        source_ ? source_->liveReadings() : QList<ServerSource::Live>{};
    QList<monitor::TransferRates::Reading> readings;
    for (const ServerSource::Live& live : now)
        readings.append(live.reading);
    rates_.sample(readings, nowMs);
    showLiveColumns(now);
    graph_->update();
    Q_EMIT ratesChanged(totalRatesText());
}

void OnlinePanel::showLiveColumns(const QList<ServerSource::Live>& readings) {
    QHash<QString, const ServerSource::Live*> byKey;
    for (const ServerSource::Live& live : readings)
        byKey.insert(live.key, &live);
    // Collected first: a new text may move the row in a sorted list.
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < lvwOnline->topLevelItemCount(); ++i)
        items.append(lvwOnline->topLevelItem(i));
    for (QTreeWidgetItem* item : std::as_const(items)) {
        const ServerSource::Live* live = byKey.value(item->data(0, kKeyRole).toString());
        const auto columns = live ? monitor::liveColumns(live->reading.activity,
                                                         rates_.rateOf(live->reading.connection),
                                                         live->limitBytesPerSecond)
                                  : std::array<QString, monitor::kLiveColumns>{};
        for (int c = 0; c < monitor::kLiveColumns; ++c) {
            if (item->text(monitor::kOnlineColumns + c) != columns[c])
                item->setText(monitor::kOnlineColumns + c, columns[c]);
        }
    }
}

} // namespace kv::ui
