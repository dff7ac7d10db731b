#pragma once
// A box of a panel whose text is judged by the same check the command line
// uses, thin over admin::FieldEdit: a line edit or an editable list. A refused
// text stays in the box, marked (markRefusal: a red frame and the reason as
// tooltip; the reason also on the line below where the panel has room for
// one), until the operator corrects it or presses Esc (the value held comes
// back); nothing refused is kept. The box is left with Return, or when the
// focus goes to another control; another window taking the focus (a message
// box, another program) does not leave it.

#include "panels/logic/FieldEdit.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace kv::ui {

class CheckedBox : public QObject {
    Q_OBJECT
public:
    // `owner` owns what `apply` and `shown` use, so the box's edit goes with
    // it; `reasonLine` (hidden until needed; null where the panel says the
    // reason elsewhere, through refusalChanged) shows the reason; `relayout`
    // is called when it appears or goes.
    CheckedBox(QObject* owner, QLineEdit* box, QLabel* reasonLine, admin::FieldEdit::Apply apply,
               admin::FieldEdit::Shown shown, std::function<void()> relayout = {},
               admin::FieldEdit::Keeping keeping = admin::FieldEdit::Keeping::AsTyped);
    CheckedBox(QObject* owner, QComboBox* box, QLabel* reasonLine, admin::FieldEdit::Apply apply,
               admin::FieldEdit::Shown shown, std::function<void()> relayout = {});

    // A value given rather than typed (loaded, a list rebuilt): shown and held.
    void give(const QString& text);
    // A value chosen with a button: judged as if typed and left.
    void pick(const QString& text);
    // The store changed: its value shows, unless the operator is editing.
    void reload();
    // The store moved to another row: its value shows, dropping the edit.
    void load();
    const admin::FieldEdit& edit() const { return edit_; }
    QString refusal() const { return edit_.reason(); }

Q_SIGNALS:
    // After every step: the store may hold another value.
    void changed();
    // The box was marked with a reason, or the mark went ("").
    void refusalChanged(const QString& reason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QWidget* widget);
    void typed(const QString& text);
    void leave();
    void show();

    QPointer<QLineEdit> line_;
    QPointer<QComboBox> combo_;
    QPointer<QWidget> framed_;
    QLabel* reasonLine_ = nullptr;
    admin::FieldEdit edit_;
    std::function<void()> relayout_;
    QString shownReason_;
    bool showing_ = false;
};

} // namespace kv::ui
