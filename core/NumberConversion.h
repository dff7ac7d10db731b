#pragma once
// Settings are stored as text and handed to the engine as 16- or 32-bit whole
// numbers: a fraction rounds to the nearest whole number, a half to the even
// neighbour; text that is not a number, or a value that does not fit, gives
// no value (the engine property then keeps what it had).

#include <QString>
#include <optional>

namespace kv {

std::optional<qint16> toInt16(const QString& text);
std::optional<qint32> toInt32(const QString& text);

// The number a text begins with, after leading blanks ("12abc" gives 12,
// " 3.5" gives 3.5); 0 when it begins with no number.
double leadingNumber(const QString& text);

} // namespace kv
