// Judging and writing one column of the settings row.
#include "panels/logic/SettingsRowEdit.h"

#include "access/DataView.h"

namespace kv::admin {

using settings::OptionStore;

SettingsRowEdit::SettingsRowEdit(access::DataView& row, const settings::OptionCatalog& catalog)
    : row_(row), catalog_(catalog) {}

std::optional<QString> SettingsRowEdit::check(const QString& column, const QString& text) const {
    const settings::OptionCheck checked = catalog_.check(column, text, OptionStore::SettingsRow);
    if (checked.ok())
        return std::nullopt;
    return checked.error;
}

std::optional<QString> SettingsRowEdit::change(const QString& column, const QString& text) {
    const settings::OptionCheck checked = catalog_.check(column, text, OptionStore::SettingsRow);
    if (!checked.ok())
        return checked.error;
    // A file without the row (one that cannot be used) has nothing to edit:
    // the box shows the row again, as empty.
    if (!row_.hasCurrentRow())
        return std::nullopt;
    // An empty value is written as empty text, never as null.
    const QString value = checked.value.isNull() ? QString(QLatin1String("")) : checked.value;
    if (row_.Field(column) != value)
        row_.setField(column, value);
    return std::nullopt;
}

QString SettingsRowEdit::shown(const QString& column) const {
    return row_.Field(column);
}

FieldEdit::Apply SettingsRowEdit::applier(const QString& column) {
    return [this, column](const QString& text, EditStep step) {
        // Showing what the row holds writes nothing, not even its normal form.
        const bool asHeld = step == EditStep::Given && text == shown(column);
        const auto refusal = asHeld ? check(column, text) : change(column, text);
        return refusal ? EditVerdict::refused(*refusal) : EditVerdict::kept();
    };
}

FieldEdit::Shown SettingsRowEdit::shower(const QString& column) const {
    return [this, column] { return shown(column); };
}

} // namespace kv::admin
