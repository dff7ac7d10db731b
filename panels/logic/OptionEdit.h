#pragma once
// One option changed in a settings group: checked through the catalog (also
// against the other options, stored and pending), kept pending when it
// differs from what the file holds, or refused with the catalog's message.
// Shared by every group of options on the settings panel.

#include "access/OptionsTable.h"
#include "panels/logic/FieldEdit.h"

#include <QString>
#include <optional>

namespace kv::admin {

// Nothing when accepted; else the Italian reason, and the option keeps what it had.
std::optional<QString> changeOption(access::OptionsTable& table, const QString& option,
                                    const QString& text);

// The option's text as the operator should see it: its normal form when it
// is valid, else the stored text itself so that it can be corrected.
QString shownOption(const access::OptionsTable& table, const QString& option);

// A box's edit over `option`: checked and kept by changeOption(), shown by
// shownOption(). A write-only option (a password) shows empty, and an empty
// box leaves it as it is.
FieldEdit::Apply optionApplier(access::OptionsTable& table, const QString& option);
FieldEdit::Shown optionShower(const access::OptionsTable& table, const QString& option);

} // namespace kv::admin
