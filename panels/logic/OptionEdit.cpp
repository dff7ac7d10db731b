// Checking and keeping one option change of a settings group.
#include "panels/logic/OptionEdit.h"

namespace kv::admin {

std::optional<QString> changeOption(access::OptionsTable& table, const QString& option,
                                    const QString& text) {
    const settings::OptionCatalog& catalog = table.catalog();
    const settings::OptionCheck checked = catalog.check(option, text);
    if (!checked.ok())
        return checked.error;

    // A value fine on its own may still clash with another option (a minimum
    // version above the maximum): only a reason the change brings refuses it.
    QMap<QString, QString> rows = table.read().rows;
    for (auto it = table.pending().begin(); it != table.pending().end(); ++it)
        rows.insert(it.key(), it.value());
    const QStringList before = catalog.checkAll(rows).errors;
    rows.insert(option, checked.value);
    for (const QString& error : catalog.checkAll(rows).errors) {
        if (!before.contains(error))
            return error;
    }

    const settings::OptionCheck stored = catalog.check(option, table.read().rows.value(option));
    if (stored.ok() && stored.value == checked.value)
        table.dropPending(option); // back to what the file holds: nothing to write
    else
        table.setPending(option, checked.value);
    return std::nullopt;
}

QString shownOption(const access::OptionsTable& table, const QString& option) {
    const QString raw = table.value(option);
    const settings::OptionCheck checked = table.catalog().check(option, raw);
    return checked.ok() ? checked.value : raw;
}

namespace {
bool writeOnly(const access::OptionsTable& table, const QString& option) {
    const settings::OptionDef* def = table.catalog().find(option);
    return def && def->writeOnly;
}
} // namespace

FieldEdit::Apply optionApplier(access::OptionsTable& table, const QString& option) {
    return [&table, option](const QString& text, EditStep) {
        if (text.isEmpty() && writeOnly(table, option))
            return EditVerdict::kept();
        const auto refusal = changeOption(table, option, text);
        return refusal ? EditVerdict::refused(*refusal) : EditVerdict::kept();
    };
}

FieldEdit::Shown optionShower(const access::OptionsTable& table, const QString& option) {
    return [&table, option] {
        return writeOnly(table, option) ? QString() : shownOption(table, option);
    };
}

} // namespace kv::admin
