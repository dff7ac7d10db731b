// Builds the panels' list grids and keeps them on their view's current row.
#include "panels/ui/ListGrid.h"

#include "access/DataView.h"
#include "panels/ui/PanelParts.h"

#include <QHeaderView>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTableView>

namespace kv::ui {

QTableView* makeListGrid(QWidget* parent, const QString& name, access::DataView& view,
                         const QStringList& shown) {
    auto* grid = new QTableView(parent);
    grid->setObjectName(name);
    grid->setModel(view.tableModel());
    grid->setFrameShape(QFrame::NoFrame);
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab and Shift+Tab leave the grid for the next control; arrows move in it.
    grid->setTabKeyNavigation(false);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    const QSqlRecord record = view.tableModel()->record();
    for (int column = 0; column < record.count(); ++column)
        grid->setColumnHidden(column, !shown.contains(record.fieldName(column)));
    return grid;
}

void showCurrentRow(QTableView* grid, access::DataView& view, const QString& column) {
    QItemSelectionModel* selection = grid->selectionModel();
    if (!view.hasCurrentRow()) {
        selection->clear();
        return;
    }
    const QModelIndex index =
        view.model()->index(view.currentRow(), view.tableModel()->record().indexOf(column));
    selection->setCurrentIndex(index,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    grid->scrollTo(index);
}

void onRowChosen(QTableView* grid, QObject* context, const bool* syncing,
                 std::function<void(int row)> chosen) {
    QObject::connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, context,
                     [context, syncing, chosen = std::move(chosen)](const QModelIndex& current) {
                         if (*syncing)
                             return;
                         const int row = current.isValid() ? current.row() : -1;
                         QMetaObject::invokeMethod(
                             context, [chosen, row] { chosen(row); }, Qt::QueuedConnection);
                     });
}

} // namespace kv::ui
