#pragma once
// The "Password" box and the grid's password column of the "Account" panel.
// Neither ever shows what users.password holds: a set password shows as a
// mask. Typing in the box stores the new password as a hash at once (pending
// with the rest of the row); a box left with its mask keeps the stored value.
// The grid's cell opens an empty editor, and a password typed there is
// stored the same way; an editor left empty keeps the stored value.

#include <QObject>
#include <QStyledItemDelegate>

class QLineEdit;

namespace kv::access {
class DataView;
}

namespace kv::admin {
class AccountPanelLogic;
}

namespace kv::ui {

class PasswordBoxBinding : public QObject {
    Q_OBJECT
public:
    PasswordBoxBinding(QLineEdit* box, access::DataView& users, admin::AccountPanelLogic& logic);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the current account's mask, unless the stored value is the one
    // this box has just written.
    void load(bool force);
    void edited(const QString& text);

    QLineEdit* box_;
    access::DataView& users_;
    admin::AccountPanelLogic& logic_;
    QString written_; // the value the last edit stored
    bool showingMask_ = false;
    bool loading_ = false;
    bool writing_ = false;
};

class PasswordColumnDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    PasswordColumnDelegate(admin::AccountPanelLogic& logic, QObject* parent);

    QString displayText(const QVariant& value, const QLocale& locale) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

private:
    admin::AccountPanelLogic& logic_;
};

} // namespace kv::ui
