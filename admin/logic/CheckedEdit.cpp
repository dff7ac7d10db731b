#include "admin/logic/CheckedEdit.h"

#include "access/DataView.h"
#include "access/EntryChecks.h"

namespace kv::admin {

EditOutcome storeChecked(access::DataView& view, const QString& field, const QString& typed,
                         const std::optional<QString>& problem) {
    if (!view.hasCurrentRow())
        return EditOutcome::declined();
    if (problem)
        return EditOutcome::refused(*problem);
    if (view.Field(field) != typed) {
        // An empty value is stored as empty text, never as null.
        if (!view.setField(field, typed.isNull() ? QString(QLatin1String("")) : typed))
            return EditOutcome::refused(view.lastErrorText());
    }
    return EditOutcome::stored();
}

EditOutcome storeRoot(access::DataView& view, const QString& typed, const QString& who,
                      Messages& messages) {
    const std::optional<QString> problem = access::rootProblem(typed);
    if (!problem && view.hasCurrentRow() && view.Field(QStringLiteral("rootdir")) != typed &&
        access::rootNeedsWholeDiskChoice(typed) &&
        !messages.confirm(access::wholeDiskQuestion(who)))
        return EditOutcome::declined();
    return storeChecked(view, QStringLiteral("rootdir"), typed, problem);
}

} // namespace kv::admin
