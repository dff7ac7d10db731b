// The edit of one panel box: what it shows, what it keeps, why it refuses.
#include "panels/logic/FieldEdit.h"

namespace kv::admin {

FieldEdit::FieldEdit(Apply apply, Shown shown, Keeping keeping)
    : apply_(std::move(apply)), shown_(std::move(shown)), keeping_(keeping) {
    text_ = held_ = shown_();
}

void FieldEdit::give(const QString& text) {
    text_ = held_ = text;
    editing_ = false;
    const EditVerdict verdict = apply_(text, EditStep::Given);
    // A value given may still be refused (a file another program wrote):
    // it shows with its reason, and nothing is written.
    reason_ = verdict.isKept() ? QString() : verdict.reason;
}

void FieldEdit::type(const QString& text) {
    text_ = text;
    editing_ = true;
    if (keeping_ == Keeping::WhenLeft)
        return; // judged when the box is left
    const EditVerdict verdict = apply_(text, EditStep::Typing);
    if (verdict.isKept()) {
        reason_.clear();
        return;
    }
    keepHeld();
    // A box already marked follows the typing; an unmarked one waits for the
    // operator to leave it, so that a half-typed value is not called wrong.
    if (refused() && !verdict.reason.isEmpty())
        reason_ = verdict.reason;
}

void FieldEdit::leave() {
    if (!editing_ || leaving_)
        return;
    leaving_ = true;
    const EditVerdict verdict = apply_(text_, EditStep::Leaving);
    leaving_ = false;
    switch (verdict.outcome) {
    case EditVerdict::Outcome::Kept:
        give(shown_());
        break;
    case EditVerdict::Outcome::Declined:
        give(held_);
        break;
    case EditVerdict::Outcome::Refused:
        keepHeld();
        reason_ = verdict.reason;
        break;
    }
}

void FieldEdit::pick(const QString& text) {
    type(text);
    leave();
}

void FieldEdit::undo() {
    if (editing_ || refused())
        give(held_);
}

void FieldEdit::reload() {
    if (!editing_)
        give(shown_());
}

void FieldEdit::load() {
    give(shown_());
}

void FieldEdit::keepHeld() {
    apply_(held_, EditStep::Given);
}

} // namespace kv::admin
