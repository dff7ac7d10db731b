#pragma once
// Reading a number from text the way the window's stored values are read.

#include <QString>

namespace kv {

// The number a text begins with, after leading blanks ("12abc" gives 12,
// " 3.5" gives 3.5); 0 when it begins with no number.
double leadingNumber(const QString& text);

} // namespace kv
