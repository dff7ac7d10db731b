#pragma once
// A grid column whose typed cells are judged as the command line judges them:
// Return or Tab with a refused value keeps the editor open, marked as every
// checked box is (markRefusal); Esc or leaving the cell keeps the stored value.

#include <QStyledItemDelegate>
#include <functional>
#include <optional>

namespace kv::ui {

class CheckedCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using Check = std::function<std::optional<QString>(const QModelIndex&, const QString&)>;
    CheckedCellDelegate(Check check, QObject* parent);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;

Q_SIGNALS:
    // A typed cell was refused (its reason), or an editor closed ("").
    void refusalChanged(const QString& reason) const;

protected:
    bool eventFilter(QObject* editor, QEvent* event) override;

private:
    std::optional<QString> problemOf(QWidget* editor, const QModelIndex& index) const;

    Check check_;
};

} // namespace kv::ui
