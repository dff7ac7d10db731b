// One address list of the "Sicurezza" panel: grid, cover and buttons.
#include "panels/ui/IpListGroup.h"

#include "access/DataView.h"
#include "layout/Twips.h"
#include "panels/logic/IpListLogic.h"
#include "panels/ui/CheckedCellDelegate.h"
#include "panels/ui/ListGrid.h"
#include "panels/ui/PanelParts.h"

#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTableView>

namespace kv::ui {

namespace {
constexpr int kDesignRows = 5;
constexpr int kCommandHeight = 34;
} // namespace

IpListGroup::IpListGroup(int index, access::DataView& list, Messages& messages, QWidget* panel)
    : QWidget(panel), index_(index), list_(list) {
    setObjectName(QStringLiteral("picIP"));
    setProperty(kIndexProperty, index);

    grid_ = makeListGrid(this, QStringLiteral("GridIP"), list_, {QStringLiteral("IP")});
    grid_->setProperty(kIndexProperty, index);
    grid_->horizontalHeader()->setStretchLastSection(true);
    // A typed entry is judged as `kestrova ip allow|block add` judges it.
    auto* entries = new CheckedCellDelegate(
        [this](const QModelIndex& cell, const QString& typed) {
            return admin::typedEntryProblem(list_, cell.row(), typed);
        },
        grid_);
    grid_->setItemDelegate(entries);
    admin::keepEntriesWhole(list_);
    // An entry left empty (Esc, or moving away) is no entry: its new row goes.
    connect(entries, &QAbstractItemDelegate::closeEditor, this,
            [this] { list_.dropIncompleteNewRow(); });
    const int gridHeight = kGridRowHeight * kDesignRows + 1;
    grid_->setGeometry(0, 0, kGroupWidth, gridHeight);
    grid_->installEventFilter(this);

    mask_ = new QWidget(this);
    mask_->setObjectName(QStringLiteral("picMaskIP"));
    mask_->setProperty(kIndexProperty, index);
    mask_->setAutoFillBackground(true);
    mask_->setBackgroundRole(QPalette::Window);

    commands_ = new QWidget(this);
    commands_->setObjectName(QStringLiteral("picIPCMD"));
    commands_->setProperty(kIndexProperty, index);
    commands_->setGeometry(0, gridHeight, kGroupWidth, kCommandHeight);
    auto* add = new QPushButton(QStringLiteral("Nuovo"), commands_);
    add->setObjectName(QStringLiteral("cmdNuovoIP"));
    add->setProperty(kIndexProperty, index);
    add->setGeometry(0, 6, 100, kButtonHeight);
    auto* remove = new QPushButton(QStringLiteral("Elimina"), commands_);
    remove->setObjectName(QStringLiteral("cmdEliminaIP"));
    remove->setProperty(kIndexProperty, index);
    remove->setGeometry(108, 6, 100, kButtonHeight);
    resize(kGroupWidth, gridHeight + kCommandHeight);

    connect(add, &QPushButton::clicked, this, [this] {
        if (!admin::cmdNuovoIP(list_))
            return;
        // The new entry is typed in its cell at once.
        grid_->setFocus();
        const QModelIndex cell = grid_->currentIndex();
        if (cell.isValid())
            grid_->edit(cell);
    });
    connect(remove, &QPushButton::clicked, this,
            [this, asker = &messages] { admin::cmdEliminaIP(list_, index_, *asker); });
    connect(&list_, &access::DataView::Reposition, this, &IpListGroup::DataIP_Reposition);
    QAbstractItemModel* model = list_.model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &IpListGroup::AdattaGrigliaIP);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &IpListGroup::AdattaGrigliaIP);
    connect(model, &QAbstractItemModel::modelReset, this, &IpListGroup::DataIP_Reposition);
    // Leaving a row saves it, which re-reads the model: after the click.
    onRowChosen(grid_, this, &syncing_, [this](int row) { selectRow(row); });
    DataIP_Reposition();
}

void IpListGroup::selectRow(int row) {
    if (row != list_.currentRow())
        list_.setCurrentRow(row);
    DataIP_Reposition();
}

void IpListGroup::DataIP_Reposition() {
    syncing_ = true;
    showCurrentRow(grid_, list_, QStringLiteral("IP"));
    syncing_ = false;
    AdattaGrigliaIP();
}

void IpListGroup::AdattaGrigliaIP() {
    const admin::IpListMask mask =
        admin::AdattaGrigliaIP(grid_->verticalHeader()->defaultSectionSize() * kTwipsPerPixel,
                               list_.RecordCount(), grid_->height() * kTwipsPerPixel);
    mask_->setVisible(mask.visible);
    if (mask.visible) {
        mask_->setGeometry(grid_->x(), twipsToPixels(mask.top), grid_->width(),
                           twipsToPixels(mask.height));
        mask_->raise();
    }
}

bool IpListGroup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grid_ && event->type() == QEvent::Resize)
        AdattaGrigliaIP();
    return QWidget::eventFilter(watched, event);
}

} // namespace kv::ui
