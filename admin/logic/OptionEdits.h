#pragma once
// One option's edit in a settings group: the text checked through the option
// catalog, alone and against the rules over several options, and kept as a
// pending edit of the options table (none when it equals what is stored).

#include "access/OptionsTable.h"

#include <QString>
#include <optional>

namespace kv::admin {

// Accepted: nothing (the normal value is pending, or nothing is when the
// file holds it already). Refused: the catalog's Italian reason, and the
// option keeps what it had.
std::optional<QString> changeOption(access::OptionsTable& table, const QString& option,
                                    const QString& text);

// The option's text as the operator should see it: its normal form when it
// is valid, else the stored text itself so that it can be corrected.
QString shownOption(const access::OptionsTable& table, const QString& option);

} // namespace kv::admin
