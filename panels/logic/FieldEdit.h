#pragma once
// One box of a panel as the operator edits it, free of widgets: a setting, an
// account's login or root, a virtual folder's field. Every text is judged (by
// `apply`, which also keeps an accepted text in its store: the settings row,
// the options table, an account's row, the virtual folders); a refused text
// stays in the box with its reason until it is corrected or undone, while the
// store keeps the value the box held before the edit, so nothing refused is
// ever written. The reason is shown when the operator leaves the box (Return,
// or the focus going to another control).

#include <QString>
#include <functional>

namespace kv::admin {

// Why a text reaches the store: given (loaded, put back), typed, or the box
// left with it (also a value picked with a button: typed and left at once).
enum class EditStep { Given, Typing, Leaving };

struct EditVerdict {
    enum class Outcome {
        Kept,     // accepted and now in the store
        Refused,  // nothing kept; `reason` says why (empty: held back without a word)
        Declined, // the operator answered no, or there is nothing to edit: the
                  // box shows the value held again
    };
    Outcome outcome = Outcome::Kept;
    QString reason;

    static EditVerdict kept() { return {}; }
    static EditVerdict refused(const QString& reason) { return {Outcome::Refused, reason}; }
    static EditVerdict declined() { return {Outcome::Declined, {}}; }
    bool isKept() const { return outcome == Outcome::Kept; }
};

class FieldEdit {
public:
    // Judges `text` and keeps it when accepted.
    using Apply = std::function<EditVerdict(const QString& text, EditStep step)>;
    // The text of the value kept in the store, in its normal form.
    using Shown = std::function<QString()>;

    // When a typed text reaches the store.
    enum class Keeping {
        // Each accepted text at once: the panels keep their edits pending
        // until the window commits them, and a toolbar button (which takes no
        // focus) must find what is typed there.
        AsTyped,
        // Only when the box is left: for a store written to accounts.dat at
        // once, which a running server reads at the next login, so that a
        // half-typed value is never served.
        WhenLeft,
    };

    FieldEdit(Apply apply, Shown shown, Keeping keeping = Keeping::AsTyped);

    // A text given rather than typed: it becomes the value held.
    void give(const QString& text);
    // The operator changed the text (each keystroke, or a pick from a list).
    void type(const QString& text);
    // The operator left the box: an accepted text shows in its normal form and
    // is held; a refused one stays, with its reason.
    void leave();
    // A value chosen with a button: judged as a text typed and left.
    void pick(const QString& text);
    // Esc: the value held comes back.
    void undo();
    // The store changed: its value shows, unless the operator is editing.
    void reload();
    // The store moved to another row: its value shows, dropping the edit.
    void load();

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
    Keeping keeping_;
    QString text_;
    QString held_;
    QString reason_;
    bool editing_ = false;
    bool leaving_ = false; // a question asked on leaving is no second leave
};

} // namespace kv::admin
