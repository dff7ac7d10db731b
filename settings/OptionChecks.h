#pragma once
// The pieces every check of an option's value is made of: how a refused
// text is quoted back, and the two outcomes. Private to settings/.

#include "settings/OptionCatalog.h"

#include <optional>

namespace kv::settings {

// A refused text is quoted back to the operator; a very long one is cut.
QString shown(const QString& text);
QString refusal(const OptionDef& option, const QString& text, const QString& why);
// Plain decimal digits only: no sign, no spaces inside, no other numerals.
std::optional<qint64> wholeNumber(const QString& text);
OptionCheck accepted(const QString& value);
OptionCheck refused(const QString& error);

} // namespace kv::settings
