#include "core/NumberConversion.h"

#include <QRegularExpression>

#include <cmath>

namespace kv {

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
