#include "window/OnlinePanel.h"

#include "core/LocalServerSource.h"
#include "core/ProgramCore.h"
#include "layout/PanelLayout.h"
#include "layout/Twips.h"
#include "panels/ui/AdminPanels.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"
#include "window/PanelArranger.h"
#include "window/RateGraph.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>
#include <utility>

namespace kv::ui {

namespace {
constexpr int kPasswordColumn = 1;
} // namespace

OnlinePanel::OnlinePanel(QWidget* panel, ProgramCore& core, PanelHost& host)
    : QObject(panel), core_(core), host_(host) {
    local_ = new LocalServerSource(core_, this);
    follow(local_);
    widths_.fill(monitor::kOnlineColumnDesignWidth);
    int y = kPanelMarginTwips;
    QLabel* title = addPanelCaption(panel, QStringLiteral("Utenti online"), y, true);
    title->setObjectName(QStringLiteral("Label32"));

    lvwOnline = new QTreeWidget(panel);
    lvwOnline->setObjectName(QStringLiteral("lvwOnline"));
    shell::setLayoutKind(lvwOnline, shell::ChildKind::OnlineList);
    lvwOnline->setColumnCount(monitor::kOnlineColumns + monitor::kLiveColumns);
    lvwOnline->setHeaderLabels(monitor::onlineHeaders() + monitor::liveHeaders());
    // The live columns show right after the login, where they need no
    // scrolling; the five designed columns keep their numbers and widths.
    const int liveWidths[monitor::kLiveColumns] = {170, 75, 75, 80, 90};
    for (int c = 0; c < monitor::kLiveColumns; ++c) {
        const int column = monitor::kOnlineColumns + c;
        lvwOnline->header()->moveSection(lvwOnline->header()->visualIndex(column), 1 + c);
        lvwOnline->setColumnWidth(column, liveWidths[c]);
    }
    // A column of masks tells nothing: hidden; an anonymous client's e-mail
    // shows on its login instead.
    lvwOnline->setColumnHidden(kPasswordColumn, true);
    lvwOnline->setRootIsDecorated(false);
    lvwOnline->setUniformRowHeights(true);
    lvwOnline->setAlternatingRowColors(true);
    lvwOnline->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwOnline->header()->setStretchLastSection(false);
    lvwOnline->header()->setSectionsClickable(true);
    placeInPanel(lvwOnline, kPanelMarginTwips, y, 7200, 3000);
    y += 3100;

    // The strip fills what the list's reserve leaves under the title.
    const int titleHeight = MisuraAltezzaTesto(title->text(), 7000, title->font());
    const int stripTwips = std::max(300, 1080 - 4 * kPanelMarginTwips - titleHeight);

    auto* strip = new QWidget(panel);
    strip->setObjectName(QStringLiteral("picUserManage"));
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 0, 0);
    cmdKillUser = new QPushButton(QStringLiteral("Disconnetti account"), strip);
    cmdKillUser->setObjectName(QStringLiteral("cmdKillUser"));
    cmdAutorizzaUser = new QPushButton(QStringLiteral("Autorizza"), strip);
    cmdAutorizzaUser->setObjectName(QStringLiteral("cmdAutorizzaUser"));
    cmdAutorizzaUser->setToolTip(QStringLiteral("Inserisci fra gli IP autorizzati"));
    cmdBloccaUser = new QPushButton(QStringLiteral("Blocca"), strip);
    cmdBloccaUser->setObjectName(QStringLiteral("cmdBloccaUser"));
    cmdBloccaUser->setToolTip(QStringLiteral("Inserisci fra gli IP bloccati"));
    for (QPushButton* b : {cmdKillUser, cmdAutorizzaUser, cmdBloccaUser}) {
        b->setFixedHeight(twipsToPixels(stripTwips));
        row->addWidget(b);
    }
    row->addStretch();
    placeInPanel(strip, kPanelMarginTwips, y, kPanelTextWidthTwips, stripTwips);
    y += stripTwips + kPanelMarginTwips;

    graph_ = new RateGraph(rates_, panel);
    placeInPanel(graph_, kPanelMarginTwips, y, kPanelTextWidthTwips, shell::kOnlineRateGraphTwips);
    clock_.start();

    rebuildTimer_.setSingleShot(true);
    connect(&rebuildTimer_, &QTimer::timeout, this, &OnlinePanel::applyPending);
    applyWidths();
    connect(lvwOnline, &QTreeWidget::itemClicked, this, &OnlinePanel::itemClicked);
    connect(lvwOnline->header(), &QHeaderView::sectionClicked, this, &OnlinePanel::headerClicked);
    connect(lvwOnline->header(), &QHeaderView::sectionResized, this,
            [this](int column, int, int size) {
                if (!applying_ && column >= 0 && column < monitor::kOnlineColumns)
                    widths_[column] = pixelsToTwips(size);
            });
    connect(cmdKillUser, &QPushButton::clicked, this, &OnlinePanel::DisconnettiUtente);
    connect(cmdAutorizzaUser, &QPushButton::clicked, this, [this] { AutorizzaIPUtente(host_); });
    connect(cmdBloccaUser, &QPushButton::clicked, this, [this] { BloccaIPUtente(host_); });
}

void OnlinePanel::follow(ServerSource* source) {
    for (const QMetaObject::Connection& c : std::as_const(sourceSignals_))
        disconnect(c);
    sourceSignals_.clear();
    source_ = source;
    if (source_)
        sourceSignals_ = {
            connect(source_, &ServerSource::sessionsChanged, this, &OnlinePanel::rebuildSoon),
            connect(source_, &ServerSource::sessionChanged, this, &OnlinePanel::showRow),
            connect(source_, &ServerSource::sessionGone, this, &OnlinePanel::removeRow)};
}

void OnlinePanel::setSource(ServerSource* source) {
    follow(source);
    rates_.clear();
    AggiornaUtenti();
    graph_->update();
}

void OnlinePanel::rebuildSoon() {
    everything_ = true;
    applySoon();
}

void OnlinePanel::showRow(const QString& key) {
    pending_.append(key);
    applySoon();
}

void OnlinePanel::removeRow(const QString& key) {
    pending_.append(key); // the source has it no more: its row goes
    applySoon();
}

void OnlinePanel::applySoon() {
    if (rebuildTimer_.isActive())
        return;
    const qint64 since = sinceRebuild_.isValid() ? sinceRebuild_.elapsed() : kOnlineRebuildMs;
    if (since >= kOnlineRebuildMs)
        applyPending();
    else
        rebuildTimer_.start(int(kOnlineRebuildMs - since));
}

void OnlinePanel::applyPending() {
    if (everything_ || pending_.size() > kRowsOneByOne) {
        AggiornaUtenti();
        return;
    }
    rebuildTimer_.stop();
    sinceRebuild_.start();
    const QString defaultRoot = host_.defaultRootText();
    QList<QTreeWidgetItem*> made;
    bool newLogin = false;
    for (const QString& key : std::exchange(pending_, {})) {
        const std::optional<monitor::OnlineRow> row =
            source_ ? source_->onlineRow(key, defaultRoot) : std::nullopt;
        if (row)
            newLogin = putRow(*row, made) || newLogin;
        else if (items_.contains(key))
            dropItem(key);
    }
    lvwOnline->addTopLevelItems(made);
    if (newLogin)
        fitLoginColumn();
}

bool OnlinePanel::putRow(const monitor::OnlineRow& row, QList<QTreeWidgetItem*>& made) {
    QTreeWidgetItem* item = items_.value(row.key);
    const bool fresh = !item;
    if (fresh) {
        item = new QTreeWidgetItem;
        item->setData(0, kKeyRole, row.key);
        items_.insert(row.key, item);
        made.append(item);
    }
    const bool newLogin = fresh || item->text(0) != row.columns[0];
    for (int i = 0; i < monitor::kOnlineColumns; ++i) {
        if (fresh || item->text(i) != row.columns[i])
            item->setText(i, row.columns[i]);
    }
    const bool anonymous =
        row.columns[0].compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0;
    const QString tip =
        anonymous ? QStringLiteral("anonimo: ") + row.columns[kPasswordColumn] : QString();
    if (item->toolTip(0) != tip)
        item->setToolTip(0, tip);
    return newLogin;
}

void OnlinePanel::dropItem(const QString& key) {
    QTreeWidgetItem* item = items_.take(key);
    const bool wasSelected = item && item->isSelected();
    delete item;
    // The list would pass the selection on to a neighbour: nobody chose that one.
    if (wasSelected)
        lvwOnline->clearSelection();
    if (key == remembered_)
        remembered_.clear();
}

void OnlinePanel::AggiornaUtenti() {
    rebuildTimer_.stop();
    sinceRebuild_.start();
    everything_ = false;
    pending_.clear();
    const QList<monitor::OnlineRow> rows =
        source_ ? source_->onlineRows(host_.defaultRootText()) : QList<monitor::OnlineRow>{};
    QSet<QString> listed;
    QList<QTreeWidgetItem*> made;
    for (const monitor::OnlineRow& row : rows) {
        listed.insert(row.key);
        putRow(row, made);
    }
    for (const QString& key : items_.keys()) {
        if (!listed.contains(key))
            dropItem(key);
    }
    lvwOnline->addTopLevelItems(made);
    fitLoginColumn();
    // The remembered row is selected again if something else took the selection.
    if (QTreeWidgetItem* item = items_.value(remembered_); item && !item->isSelected())
        lvwOnline->setCurrentItem(item);
    showLiveColumns(source_ ? source_->liveReadings() : QList<ServerSource::Live>{});
}

void OnlinePanel::clear() {
    lvwOnline->clear();
    items_.clear();
    pending_.clear();
    rates_.clear();
    graph_->update();
}

std::optional<QString> OnlinePanel::selectedAddress() const {
    const QList<QTreeWidgetItem*> selected = lvwOnline->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.first()->text(2);
}

void OnlinePanel::DisconnettiUtente() {
    const QList<QTreeWidgetItem*> selected = lvwOnline->selectedItems();
    if (selected.isEmpty()) {
        host_.messages().show(kNoUserSelectedMessage, MessageIcon::Exclamation);
        return;
    }
    // The list is rebuilt when the server reports the closed connection.
    if (source_)
        source_->disconnectSession(selected.first()->data(0, kKeyRole).toString());
}

void OnlinePanel::itemClicked(QTreeWidgetItem* item) {
    if (item)
        remembered_ = item->data(0, kKeyRole).toString();
}

void OnlinePanel::headerClicked(int column) {
    // Sorting stays on, so later rebuilds keep the rows in this order.
    if (!lvwOnline->isSortingEnabled()) {
        lvwOnline->header()->setSortIndicator(column, Qt::AscendingOrder);
        lvwOnline->setSortingEnabled(true);
    }
    lvwOnline->header()->setSortIndicatorShown(true);
}

void OnlinePanel::applyWidths() {
    applying_ = true;
    for (int i = 0; i < monitor::kOnlineColumns; ++i)
        lvwOnline->setColumnWidth(i, twipsToPixels(widths_[i]));
    applying_ = false;
    fitLoginColumn();
}

void OnlinePanel::fitLoginColumn() {
    // The logins shown need no more than their own width, which leaves the
    // transfer columns after them in view.
    if (lvwOnline->topLevelItemCount() == 0)
        return;
    applying_ = true;
    lvwOnline->resizeColumnToContents(0);
    const int fit = lvwOnline->columnWidth(0) + 8;
    lvwOnline->setColumnWidth(0, std::min(twipsToPixels(widths_[0]), fit));
    applying_ = false;
}

void OnlinePanel::CaricaImpostazioniOnline() {
    widths_ = monitor::loadColumnWidths(core_.settings(), widths_);
    applyWidths();
}

void OnlinePanel::MemorizzaImpostazioniOnline() {
    monitor::saveColumnWidths(core_.settings(), widths_);
}

void OnlinePanel::AdattaColonneOnline() {
    widths_ = scaler_.adapt(pixelsToTwips(lvwOnline->width()), widths_);
    applyWidths();
    graph_->resize(lvwOnline->width(), graph_->height()); // as wide as the list
}

} // namespace kv::ui
