// Passes a box's typing, leaving and Esc to its FieldEdit and shows the outcome.
#include "panels/ui/CheckedBox.h"

#include "panels/ui/PanelParts.h"
#include "panels/ui/RefusalMark.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace kv::ui {

CheckedBox::CheckedBox(QObject* owner, QLineEdit* box, QLabel* reasonLine,
                       admin::FieldEdit::Apply apply, admin::FieldEdit::Shown shown,
                       std::function<void()> relayout, admin::FieldEdit::Keeping keeping)
    : QObject(owner), line_(box), framed_(box), reasonLine_(reasonLine),
      edit_(std::move(apply), std::move(shown), keeping), relayout_(std::move(relayout)) {
    connect(line_, &QLineEdit::textChanged, this, &CheckedBox::typed);
    watch(line_);
    edit_.give(edit_.text());
    show();
}

CheckedBox::CheckedBox(QObject* owner, QComboBox* box, QLabel* reasonLine,
                       admin::FieldEdit::Apply apply, admin::FieldEdit::Shown shown,
                       std::function<void()> relayout)
    : QObject(owner), line_(box->lineEdit()), combo_(box), framed_(box), reasonLine_(reasonLine),
      edit_(std::move(apply), std::move(shown)), relayout_(std::move(relayout)) {
    // The list's own signal: rebuilding the list under a signal blocker is no edit.
    connect(combo_, &QComboBox::editTextChanged, this, &CheckedBox::typed);
    watch(combo_);
    watch(line_);
    edit_.give(edit_.text());
    show();
}

void CheckedBox::watch(QWidget* widget) {
    widget->installEventFilter(this);
    if (widget == line_)
        connect(line_, &QLineEdit::returnPressed, this, &CheckedBox::leave);
}

void CheckedBox::typed(const QString& text) {
    if (showing_)
        return;
    edit_.type(text);
    show();
    Q_EMIT changed();
}

void CheckedBox::leave() {
    if (!edit_.editing())
        return; // nothing typed since the value was kept or given
    edit_.leave();
    show();
    Q_EMIT changed();
}

void CheckedBox::give(const QString& text) {
    edit_.give(text);
    show();
    Q_EMIT changed();
}

void CheckedBox::pick(const QString& text) {
    edit_.pick(text);
    show();
    Q_EMIT changed();
}

void CheckedBox::reload() {
    if (edit_.editing())
        return;
    edit_.reload();
    show();
    Q_EMIT changed();
}

void CheckedBox::load() {
    edit_.load();
    show();
    Q_EMIT changed();
}

bool CheckedBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        (edit_.editing() || edit_.refused())) {
        edit_.undo();
        show();
        Q_EMIT changed();
        return true; // a box showing the value held lets Esc through
    }
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            leave();
    }
    return QObject::eventFilter(watched, event);
}

void CheckedBox::show() {
    if (!line_ || !framed_)
        return;
    showing_ = true;
    if (combo_ && combo_->currentText() != edit_.text())
        combo_->setEditText(edit_.text());
    else if (!combo_ && line_->text() != edit_.text())
        line_->setText(edit_.text()); // the same text again would move the cursor
    showing_ = false;

    const QString& reason = edit_.reason();
    markRefusal(framed_, reason);
    if (reasonLine_) {
        const bool wasShown = !reasonLine_->isHidden();
        reasonLine_->setText(reason);
        showBelow(reasonLine_, framed_, !reason.isEmpty());
        // A panel out of sight is laid out when it is shown.
        if (wasShown != !reasonLine_->isHidden() && relayout_ &&
            reasonLine_->parentWidget()->isVisible())
            relayout_();
    }
    if (reason != shownReason_) {
        shownReason_ = reason;
        Q_EMIT refusalChanged(reason);
    }
}

} // namespace kv::ui
