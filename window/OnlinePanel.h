#pragma once
// The "Online" panel: the list of connected clients (lvwOnline) with login,
// password, address, root folder and rights in words, the remembered
// selection, sorting on a header click, the column widths saved, restored
// and scaled with the list, rows added, changed and removed one by one as the
// server's events say (never the whole list cleared and built again), the buttons that disconnect a
// client or put its address on a list, and what each connection is transferring now (further
// columns, refreshed once a second) over the graph of the total rates.

#include "core/CoreFwd.h"
#include "core/ServerSource.h"
#include "monitor/OnlineList.h"
#include "monitor/TransferRates.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <optional>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace kv::ui {

class PanelHost;
class RateGraph;

// The least time between two changes of the list: a burst of sessions
// (cameras reconnecting after a power cut) is shown in a few steps, not one
// per session, and a change that names no session goes over the whole list.
inline constexpr int kOnlineRebuildMs = 100;
// More sessions changed than this since the last change of the list: it is
// brought up to date as a whole.
inline constexpr int kRowsOneByOne = 64;

inline const QString kNoUserSelectedMessage = QStringLiteral("Non è selezionato alcun utente");

class OnlinePanel : public QObject {
    Q_OBJECT
public:
    OnlinePanel(QWidget* panel, ProgramCore& core, PanelHost& host);

    // The server whose sessions are listed: the window's own, or one it is
    // attached to. The list is rebuilt and the rates start again.
    void setSource(ServerSource* source);
    ServerSource* source() const { return source_; }
    // The window's own server, listed until another source is set.
    ServerSource* localSource() const { return local_; }

    // Brings every row up to date now, in place: rows of new sessions
    // added, rows of sessions gone removed, the others kept with their
    // selection.
    void AggiornaUtenti();
    // The same now, or kOnlineRebuildMs after the last change of the list
    // when that was less long ago; requests meanwhile are served by that one pass.
    void rebuildSoon();
    // The row of one session, as rebuildSoon() times it: added, or its
    // texts changed, or removed when the session is not there any more.
    void showRow(const QString& key);
    void removeRow(const QString& key);
    void clear(); // the server stopped
    void DisconnettiUtente();
    // Column widths: restored at start-up, saved at shutdown, scaled after layout.
    void CaricaImpostazioniOnline();
    void MemorizzaImpostazioniOnline();
    void AdattaColonneOnline();
    // Polls the connections' counters (Timer1, once a second): the live
    // columns, the rates and the graph. `nowMs` is a monotonic clock's time.
    void refreshLive();
    void refreshLive(qint64 nowMs);
    // "Upload: ...  Download: ..." after the last poll.
    QString totalRatesText() const { return monitor::totalRatesText(rates_.total()); }
    RateGraph* graph() const { return graph_; }

Q_SIGNALS:
    // After every poll, with totalRatesText().
    void ratesChanged(const QString& text);

public:
    QTreeWidget* list() const { return lvwOnline; }
    QString rememberedKey() const { return remembered_; }
    std::optional<QString> selectedAddress() const;
    monitor::ColumnWidths columnWidths() const { return widths_; }
    QPushButton* killButton() const { return cmdKillUser; }

private:
    static constexpr int kKeyRole = Qt::UserRole + 1; // a row's onlineKey
    // Listens to `source`'s changes (and no longer to the last one's).
    void follow(ServerSource* source);
    void showLiveColumns(const QList<ServerSource::Live>& readings);
    void applySoon();
    // What waits: the whole list, or the rows of the sessions named since.
    void applyPending();
    // Writes `row` into its item; an item made for it goes to `made`, for
    // the list to take with the others. True when the login's text is new.
    bool putRow(const monitor::OnlineRow& row, QList<QTreeWidgetItem*>& made);
    void dropItem(const QString& key);
    void applyWidths();
    void fitLoginColumn();
    void itemClicked(QTreeWidgetItem* item);
    void headerClicked(int column);

    ProgramCore& core_;
    PanelHost& host_;
    ServerSource* local_ = nullptr;
    ServerSource* source_ = nullptr;
    QTreeWidget* lvwOnline;
    QPushButton* cmdKillUser;
    QPushButton* cmdAutorizzaUser;
    QPushButton* cmdBloccaUser;
    QString remembered_;
    QHash<QString, QTreeWidgetItem*> items_; // by onlineKey
    QStringList pending_;                    // the sessions changed since the last change
    bool everything_ = false;                // a change that named no session waits
    QList<QMetaObject::Connection> sourceSignals_;
    monitor::ColumnWidths widths_;
    monitor::ColumnScaler scaler_;
    bool applying_ = false;
    monitor::TransferRates rates_;
    RateGraph* graph_ = nullptr;
    QElapsedTimer clock_;
    QElapsedTimer sinceRebuild_;
    QTimer rebuildTimer_;
};

} // namespace kv::ui
