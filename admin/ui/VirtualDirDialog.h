#pragma once
// frmVirtualDir: the modal editor of one owner's virtual folders ("Cartelle
// virtuali"). Every change in an edit box is written to accounts.dat at once;
// the window has no save or cancel button.

#include "admin/logic/VirtualDirList.h"

#include <QDialog>

class QLineEdit;
class QTableView;

namespace kv::ui {

class PanelHost;

class VirtualDirDialog : public QDialog {
    Q_OBJECT
public:
    VirtualDirDialog(const QSqlDatabase& db, int owner, PanelHost& host, QWidget* parent = nullptr);

    admin::VirtualDirList& list() { return list_; }

private:
    void showCurrentRow(int row);
    void boxChanged(admin::VirtualDirList::Column column, const QString& text);
    void AggiornaPath();
    void browse(QLineEdit* target);

    PanelHost& host_;
    admin::VirtualDirList list_;
    QTableView* grid_ = nullptr;
    QLineEdit* txtName_ = nullptr;
    QLineEdit* txtVirtualPath_ = nullptr;
    QLineEdit* txtCompletePath_ = nullptr;
    QLineEdit* txtRealPath_ = nullptr;
    QList<QWidget*> rowControls_;
    bool loading_ = false;
};

} // namespace kv::ui
