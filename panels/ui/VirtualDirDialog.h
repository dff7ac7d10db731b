#pragma once
// frmVirtualDir: the modal editor of one owner's virtual folders ("Cartelle
// virtuali"). What an edit box holds is judged and written to accounts.dat
// when the operator presses Return or leaves the box (CheckedBox, keeping
// only when left: the file is written at once); a refused value stays in its
// box, marked, with the reason under the boxes, until corrected or undone
// (Esc). The window has no save or cancel button.

#include "panels/logic/VirtualDirList.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QTableView;

namespace kv::ui {

class CheckedBox;
class PanelHost;

class VirtualDirDialog : public QDialog {
    Q_OBJECT
public:
    VirtualDirDialog(const QSqlDatabase& db, int owner, PanelHost& host, QWidget* parent = nullptr);

    admin::VirtualDirList& list() { return list_; }

private:
    void showCurrentRow(int row);
    CheckedBox* checkedBox(QLineEdit* box, admin::VirtualDirList::Column column);
    void showRefusal();
    void AggiornaPath();
    void browse(CheckedBox* target);

    PanelHost& host_;
    admin::VirtualDirList list_;
    QTableView* grid_ = nullptr;
    QLineEdit* txtName_ = nullptr;
    QLineEdit* txtVirtualPath_ = nullptr;
    QLineEdit* txtCompletePath_ = nullptr;
    QLineEdit* txtRealPath_ = nullptr;
    QList<CheckedBox*> boxes_;
    QLabel* problem_ = nullptr;
    QList<QWidget*> rowControls_;
    bool loading_ = false;
};

} // namespace kv::ui
