#include "core/NumberConversion.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace kv {

namespace {

std::optional<double> roundedNumber(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok); // C locale: '.' is the decimal point
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return std::nearbyint(value); // default rounding mode: half to even
}

template <typename Int> std::optional<Int> toWhole(const QString& text) {
    const auto value = roundedNumber(text);
    if (!value || *value < std::numeric_limits<Int>::min() ||
        *value > std::numeric_limits<Int>::max())
        return std::nullopt;
    return static_cast<Int>(*value);
}

} // namespace

std::optional<qint16> toInt16(const QString& text) {
    return toWhole<qint16>(text);
}

std::optional<qint32> toInt32(const QString& text) {
    return toWhole<qint32>(text);
}

double leadingNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?)"));
    const auto match = number.match(text);
    if (!match.hasMatch())
        return 0;
    const double value = match.captured(1).toDouble();
    return std::isfinite(value) ? value : 0;
}

} // namespace kv
