#pragma once
// Edit boxes and grid cells whose value is judged before it is stored. A
// refused value stays where it was typed, marked with a red frame and its
// reason (tooltip, and refusalChanged for the panel's status line), until
// the operator corrects it or undoes it: Esc, or moving to another row,
// shows the stored value again. Nothing refused ever reaches the row.

#include "admin/logic/CheckedEdit.h"

#include <QObject>
#include <QStyledItemDelegate>
#include <functional>
#include <optional>

class QLineEdit;

namespace kv::ui {

// The red frame and the reason on `widget`; an empty reason takes them off.
void markRefusal(QWidget* widget, const QString& reason);
// The reason `widget` is marked with ("" when none).
QString refusalOf(const QWidget* widget);

class CheckedLine : public QObject {
    Q_OBJECT
public:
    using Stored = std::function<QString()>;
    using Apply = std::function<admin::EditOutcome(const QString& typed)>;

    // `stored` reads the value as stored; `apply` judges and stores a typed
    // one. The box is judged on Return and when focus leaves it.
    CheckedLine(QLineEdit* box, Stored stored, Apply apply, QObject* parent);

    QLineEdit* box() const { return box_; }
    // Shows the stored value, taking a refusal off.
    void load();
    // Shows the stored value when it changed elsewhere (another control, the
    // grid); a value being typed or refused stays otherwise.
    void follow();
    // Judges what the box holds now, as Return does.
    void finish();
    QString refusal() const;

Q_SIGNALS:
    // A value was refused (its reason) or a refusal was taken off ("").
    void refusalChanged(const QString& reason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setRefusal(const QString& reason);

    QLineEdit* box_;
    Stored stored_;
    Apply apply_;
    QString shown_; // the stored value the box last showed
    bool busy_ = false;
};

// A grid column whose typed cells are judged: Return or Tab with a refused
// value keeps the editor open and marked; Esc or leaving the cell keeps the
// stored value.
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
