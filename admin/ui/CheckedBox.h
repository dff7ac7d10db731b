#pragma once
// A settings box under the panels' one rule, thin over admin::FieldEdit: each
// text the catalog accepts is kept as it is typed; a refused one stays in the
// box, framed in red with its reason on the line below, until the operator
// corrects it or presses Esc (the value held comes back); nothing refused is
// kept. Works on a line edit or an editable list.

#include "admin/logic/FieldEdit.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace kv::ui {

// The name of the box's property that holds the reason it is refused.
inline constexpr char kRefusalProperty[] = "kvRefusal";

class CheckedBox : public QObject {
    Q_OBJECT
public:
    // `owner` owns what `apply` and `shown` use, so the box's edit goes with
    // it; `reasonLine` (hidden until needed) shows the reason; `relayout` is
    // called when it appears or goes.
    CheckedBox(QObject* owner, QLineEdit* box, QLabel* reasonLine, admin::FieldEdit::Apply apply,
               admin::FieldEdit::Shown shown, std::function<void()> relayout);
    CheckedBox(QObject* owner, QComboBox* box, QLabel* reasonLine, admin::FieldEdit::Apply apply,
               admin::FieldEdit::Shown shown, std::function<void()> relayout);

    // A value given rather than typed (a pick, a button): shown and held.
    void give(const QString& text);
    // The store changed: its value shows, unless the operator is editing.
    void reload();
    const admin::FieldEdit& edit() const { return edit_; }

Q_SIGNALS:
    // After every step: the store may hold another value.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectLine();
    void typed(const QString& text);
    void show();

    QPointer<QLineEdit> line_;
    QPointer<QComboBox> combo_;
    QPointer<QWidget> framed_;
    QLabel* reasonLine_ = nullptr;
    admin::FieldEdit edit_;
    std::function<void()> relayout_;
    bool showing_ = false;
};

} // namespace kv::ui
