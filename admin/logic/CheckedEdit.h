#pragma once
// A value the operator typed into a panel, judged before it reaches the row:
// stored, refused with the reason (the box keeps it, marked, for correction),
// or declined by the operator when asked (the stored value comes back).

#include "core/Messages.h"

#include <QString>
#include <optional>

namespace kv::access {
class DataView;
}

namespace kv::admin {

struct EditOutcome {
    enum class Result { Stored, Refused, Declined };
    Result result = Result::Stored;
    QString reason; // Refused: why, in Italian

    static EditOutcome stored() { return {}; }
    static EditOutcome refused(const QString& why) { return {Result::Refused, why}; }
    static EditOutcome declined() { return {Result::Declined, {}}; }
    bool isStored() const { return result == Result::Stored; }
};

// Writes `typed` into `field` of `view`'s current row (pending, like every
// edit) unless `problem` says why not.
EditOutcome storeChecked(access::DataView& view, const QString& field, const QString& typed,
                         const std::optional<QString>& problem);

// A root folder for `view`'s current row (an account or the anonymous
// account): judged by access::rootProblem; the whole disk is stored only
// after the operator said yes to the question naming `who`.
EditOutcome storeRoot(access::DataView& view, const QString& typed, const QString& who,
                      Messages& messages);

} // namespace kv::admin
