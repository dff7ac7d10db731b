#pragma once
// The grids over a view's table (the account list, the address lists): one
// look and one way of following the view's current row. Choosing a row in
// the grid asks the view to move there after the grid's own click handling,
// since leaving a row saves it and re-reads the model.

#include <QStringList>
#include <functional>

class QObject;
class QTableView;
class QWidget;

namespace kv::access {
class DataView;
}

namespace kv::ui {

// A row-selecting grid over `view`'s table showing only the `shown` columns.
QTableView* makeListGrid(QWidget* parent, const QString& name, access::DataView& view,
                         const QStringList& shown);

// Selects (and scrolls to) the view's current row in the grid, or clears the
// selection without one; `column` is the cell made current.
void showCurrentRow(QTableView* grid, access::DataView& view, const QString& column);

// Calls `chosen(row)` (-1: none), queued, when the operator moves the grid's
// current row; moves made while `*syncing` is true are the program's own.
void onRowChosen(QTableView* grid, QObject* context, const bool* syncing,
                 std::function<void(int row)> chosen);

} // namespace kv::ui
