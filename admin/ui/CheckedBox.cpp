// Passes a box's typing, leaving and Esc to its FieldEdit and shows the outcome.
#include "admin/ui/CheckedBox.h"

#include "admin/ui/PanelParts.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace kv::ui {

CheckedBox::CheckedBox(QObject* owner, QLineEdit* box, QLabel* reasonLine,
                       admin::FieldEdit::Apply apply, admin::FieldEdit::Shown shown,
                       std::function<void()> relayout)
    : QObject(owner), line_(box), framed_(box), reasonLine_(reasonLine),
      edit_(std::move(apply), std::move(shown)), relayout_(std::move(relayout)) {
    connect(line_, &QLineEdit::textChanged, this, &CheckedBox::typed);
    connectLine();
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
    combo_->installEventFilter(this);
    connectLine();
    edit_.give(edit_.text());
    show();
}

void CheckedBox::connectLine() {
    line_->installEventFilter(this);
    connect(line_, &QLineEdit::editingFinished, this, [this] {
        edit_.leave();
        show();
        Q_EMIT changed();
    });
}

void CheckedBox::typed(const QString& text) {
    if (showing_)
        return;
    edit_.type(text);
    show();
    Q_EMIT changed();
}

void CheckedBox::give(const QString& text) {
    edit_.give(text);
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

bool CheckedBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        (edit_.editing() || edit_.refused())) {
        edit_.undo();
        show();
        Q_EMIT changed();
        return true;
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
    framed_->setProperty(kRefusalProperty, reason);
    // Only the box itself is framed, not a list's line or popup inside it.
    framed_->setStyleSheet(reason.isEmpty()
                               ? QString()
                               : QStringLiteral("%1 { border: 2px solid #c00000; }")
                                     .arg(QLatin1String(framed_->metaObject()->className())));
    framed_->setToolTip(reason);
    if (!reasonLine_)
        return;
    const bool wasShown = !reasonLine_->isHidden();
    reasonLine_->setText(reason);
    showBelow(reasonLine_, framed_, !reason.isEmpty());
    // A panel out of sight is laid out when it is shown.
    if (wasShown != !reasonLine_->isHidden() && relayout_ &&
        reasonLine_->parentWidget()->isVisible())
        relayout_();
}

} // namespace kv::ui
