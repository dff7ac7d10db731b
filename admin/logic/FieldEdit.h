#pragma once
// One box of a settings panel as the operator edits it, free of widgets. Every
// text is judged (by `apply`, which also keeps an accepted text in its store:
// the settings row or the options table); a refused text stays in the box with
// its reason until it is corrected or undone, while the store goes back to the
// value the box held before the edit, so nothing refused is ever written.
// While typing, each text the catalog accepts is kept at once (a window
// button does not take the focus, so the edit may never be left); the reason
// is shown when the operator leaves the box.

#include <QString>
#include <functional>

namespace kv::admin {

// Why a text reaches the store: given (loaded, picked, put back), typed, or
// the box left with it.
enum class EditStep { Given, Typing, Leaving };

struct EditVerdict {
    enum class Outcome {
        Kept,    // accepted and now in the store
        Refused, // nothing kept; `reason` says why (empty: held back without a word)
        Undone,  // the operator answered no: the box shows the value held again
    };
    Outcome outcome = Outcome::Kept;
    QString reason;

    static EditVerdict kept() { return {}; }
    static EditVerdict refused(const QString& reason) { return {Outcome::Refused, reason}; }
    static EditVerdict undone() { return {Outcome::Undone, {}}; }
    bool isKept() const { return outcome == Outcome::Kept; }
};

class FieldEdit {
public:
    // Judges `text` (the box held `before` when the edit began) and keeps it
    // when accepted.
    using Apply =
        std::function<EditVerdict(const QString& text, EditStep step, const QString& before)>;
    // The text of the value kept in the store, in its normal form.
    using Shown = std::function<QString()>;

    FieldEdit(Apply apply, Shown shown);

    // A text given rather than typed: it becomes the value held.
    void give(const QString& text);
    // The operator changed the text (each keystroke, or a pick from a list).
    void type(const QString& text);
    // The operator left the box: an accepted text shows in its normal form and
    // is held; a refused one stays, with its reason.
    void leave();
    // Esc: the value held comes back.
    void undo();
    // The store changed: its value shows, unless the operator is editing.
    void reload();

    // What the box shows, and why it is refused (empty when it is not).
    const QString& text() const { return text_; }
    const QString& reason() const { return reason_; }
    bool refused() const { return !reason_.isEmpty(); }
    // The value the box held before the operator started editing.
    const QString& held() const { return held_; }
    bool editing() const { return editing_; }

private:
    void keepHeld();

    Apply apply_;
    Shown shown_;
    QString text_;
    QString held_;
    QString reason_;
    bool editing_ = false;
};

} // namespace kv::admin
