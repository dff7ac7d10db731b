#pragma once
// picIP(i): one address list of the "Sicurezza" panel — the grid over the
// list's view, the cover over its empty rows, and the "Nuovo"/"Elimina" strip
// under the grid. The window's layout sizes the grid and moves the strip, then
// calls AdattaGrigliaIP(); the cover also follows every resize and row change.

#include <QWidget>

class QTableView;

namespace kv {
class Messages;
}

namespace kv::access {
class DataView;
}

namespace kv::ui {

class IpListGroup : public QWidget {
    Q_OBJECT
public:
    // A typed entry is judged before it is stored (a refused one stays in its
    // cell, marked); `messages` asks before a stored entry is deleted.
    IpListGroup(int index, access::DataView& list, Messages& messages, QWidget* panel);

    int index() const { return index_; }
    QTableView* grid() const { return grid_; }
    // The "Nuovo"/"Elimina" strip ("picIPCMD") under the grid.
    QWidget* commands() const { return commands_; }

public Q_SLOTS:
    void AdattaGrigliaIP();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DataIP_Reposition();
    void selectRow(int row);

    int index_;
    access::DataView& list_;
    QTableView* grid_ = nullptr;
    QWidget* mask_ = nullptr;
    QWidget* commands_ = nullptr;
    bool syncing_ = false;
};

} // namespace kv::ui
