// Checked grid cells (see CheckedCellDelegate.h).
#include "panels/ui/CheckedCellDelegate.h"

#include "panels/ui/RefusalMark.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QToolTip>

namespace kv::ui {

namespace {

constexpr char kIndexOfEditor[] = "kvEditedIndex";

bool isCommitKey(const QKeyEvent* key) {
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        return false;
    }
}

} // namespace

CheckedCellDelegate::CheckedCellDelegate(Check check, QObject* parent)
    : QStyledItemDelegate(parent), check_(std::move(check)) {}

QWidget* CheckedCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (editor)
        editor->setProperty(kIndexOfEditor, QVariant::fromValue(QPersistentModelIndex(index)));
    return editor;
}

std::optional<QString> CheckedCellDelegate::problemOf(QWidget* editor,
                                                      const QModelIndex& index) const {
    const auto* box = qobject_cast<QLineEdit*>(editor);
    if (!box || !index.isValid())
        return std::nullopt;
    // The stored value left as it was is no edit.
    if (box->text() == index.data(Qt::EditRole).toString())
        return std::nullopt;
    return check_(index, box->text());
}

void CheckedCellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                       const QModelIndex& index) const {
    if (problemOf(editor, index))
        return; // leaving the cell keeps what is stored
    QStyledItemDelegate::setModelData(editor, model, index);
}

void CheckedCellDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
    if (!refusalOf(editor).isEmpty())
        Q_EMIT refusalChanged(QString());
    QStyledItemDelegate::destroyEditor(editor, index);
}

bool CheckedCellDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor && event->type() == QEvent::KeyPress &&
        isCommitKey(static_cast<QKeyEvent*>(event))) {
        const QModelIndex index = editor->property(kIndexOfEditor).value<QPersistentModelIndex>();
        if (const std::optional<QString> problem = problemOf(editor, index)) {
            markRefusal(editor, *problem);
            // A cell has no line below it: the reason is said at once, beside it.
            if (editor->isVisible())
                QToolTip::showText(editor->mapToGlobal(QPoint(0, editor->height())), *problem,
                                   editor);
            Q_EMIT refusalChanged(*problem);
            return true; // the editor stays open with what was typed
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

} // namespace kv::ui
