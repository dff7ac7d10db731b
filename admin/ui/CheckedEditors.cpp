// Checked edit boxes and grid cells (see CheckedEditors.h).
#include "admin/ui/CheckedEditors.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QToolTip>

namespace kv::ui {

namespace {

constexpr char kRefusalProperty[] = "kvRefusal";
constexpr char kPlainToolTipProperty[] = "kvPlainToolTip";
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

void markRefusal(QWidget* widget, const QString& reason) {
    if (refusalOf(widget) == reason)
        return;
    if (!widget->property(kPlainToolTipProperty).isValid())
        widget->setProperty(kPlainToolTipProperty, widget->toolTip());
    widget->setProperty(kRefusalProperty, reason);
    if (reason.isEmpty()) {
        widget->setStyleSheet(QString());
        widget->setToolTip(widget->property(kPlainToolTipProperty).toString());
        return;
    }
    widget->setStyleSheet(QStringLiteral("QLineEdit { border: 2px solid #c62828; }"));
    widget->setToolTip(reason);
    // Said at once, beside the box, not only when the mouse rests on it.
    if (widget->isVisible())
        QToolTip::showText(widget->mapToGlobal(QPoint(0, widget->height())), reason, widget);
}

QString refusalOf(const QWidget* widget) {
    return widget->property(kRefusalProperty).toString();
}

CheckedLine::CheckedLine(QLineEdit* box, Stored stored, Apply apply, QObject* parent)
    : QObject(parent), box_(box), stored_(std::move(stored)), apply_(std::move(apply)) {
    box_->installEventFilter(this);
    connect(box_, &QLineEdit::returnPressed, this, &CheckedLine::finish);
    load();
}

QString CheckedLine::refusal() const {
    return refusalOf(box_);
}

void CheckedLine::setRefusal(const QString& reason) {
    if (refusal() == reason)
        return;
    markRefusal(box_, reason);
    Q_EMIT refusalChanged(reason);
}

void CheckedLine::load() {
    shown_ = stored_();
    if (box_->text() != shown_)
        box_->setText(shown_);
    setRefusal(QString());
}

void CheckedLine::follow() {
    const QString now = stored_();
    if (now == shown_)
        return;
    if (box_->text() == now) { // the value this box has just stored
        shown_ = now;
        setRefusal(QString());
        return;
    }
    load();
}

void CheckedLine::finish() {
    // A question asked while judging takes the focus: that is no second finish.
    if (busy_)
        return;
    const QString typed = box_->text();
    if (typed == stored_()) {
        shown_ = typed;
        setRefusal(QString());
        return;
    }
    busy_ = true;
    const admin::EditOutcome outcome = apply_(typed);
    busy_ = false;
    switch (outcome.result) {
    case admin::EditOutcome::Result::Stored:
        shown_ = stored_();
        setRefusal(QString());
        break;
    case admin::EditOutcome::Result::Refused:
        setRefusal(outcome.reason);
        break;
    case admin::EditOutcome::Result::Declined:
        load();
        break;
    }
}

bool CheckedLine::eventFilter(QObject* watched, QEvent* event) {
    if (watched == box_) {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
            (box_->text() != stored_() || !refusal().isEmpty())) {
            load(); // undone; a box showing the stored value lets Esc through
            return true;
        }
        if (event->type() == QEvent::FocusOut) {
            // Another window (a message box, another program) taking the
            // focus is not the operator leaving the box.
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                finish();
        }
    }
    return QObject::eventFilter(watched, event);
}

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
            Q_EMIT refusalChanged(*problem);
            return true; // the editor stays open with what was typed
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

} // namespace kv::ui
