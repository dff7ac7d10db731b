// The online panel's live view: once a second the connections' byte
// counters are read, the rates worked out, the live columns of each row
// rewritten and the graph repainted. Nothing here runs per transferred chunk.
#include "window/OnlinePanel.h"

#include "core/ProgramCore.h"
#include "window/RateGraph.h"

#include <QHash>
#include <QTreeWidget>

namespace kv::ui {

QList<monitor::TransferRates::Reading> OnlinePanel::readings() const {
    QList<monitor::TransferRates::Reading> list;
    for (engine::ConnectionObject* c : core_.connections())
        list.append({c, c->Activity()});
    return list;
}

void OnlinePanel::refreshLive() {
    refreshLive(clock_.elapsed());
}

void OnlinePanel::refreshLive(qint64 nowMs) {
    const QList<monitor::TransferRates::Reading> now = readings();
    rates_.sample(now, nowMs);
    showLiveColumns(now);
    graph_->update();
    Q_EMIT ratesChanged(totalRatesText());
}

void OnlinePanel::showLiveColumns(const QList<monitor::TransferRates::Reading>& readings) {
    QHash<QString, const monitor::TransferRates::Reading*> byKey;
    for (const monitor::TransferRates::Reading& r : readings)
        byKey.insert(
            monitor::onlineKey(*static_cast<const engine::ConnectionObject*>(r.connection)), &r);
    // Collected first: a new text may move the row in a sorted list.
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < lvwOnline->topLevelItemCount(); ++i)
        items.append(lvwOnline->topLevelItem(i));
    for (QTreeWidgetItem* item : std::as_const(items)) {
        const monitor::TransferRates::Reading* r = byKey.value(item->data(0, kKeyRole).toString());
        const auto columns = r ? monitor::liveColumns(r->activity, rates_.rateOf(r->connection))
                               : std::array<QString, monitor::kLiveColumns>{};
        for (int c = 0; c < monitor::kLiveColumns; ++c) {
            if (item->text(monitor::kOnlineColumns + c) != columns[c])
                item->setText(monitor::kOnlineColumns + c, columns[c]);
        }
    }
}

} // namespace kv::ui
