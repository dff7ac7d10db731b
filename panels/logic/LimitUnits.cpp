// Speeds, sizes and dates of the limits as the panels show and read them.
#include "panels/logic/LimitUnits.h"

#include "access/AccountLimitFields.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace kv::admin {

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kGiB = 1024 * kMiB;
constexpr double kBitsPerKib = 8.0 * 1024.0;

QLocale italian() {
    return QLocale(QLocale::Italian, QLocale::Italy);
}

// "83,9"; small speeds keep their first digits ("0,008").
QString decimals(double value) {
    const int places = value >= 1.0 ? 1 : (value >= 0.1 ? 2 : 3);
    return italian().toString(value, 'f', places);
}

// A number typed with a comma or a dot for decimals; nothing if it is none.
std::optional<double> typedNumber(QString text) {
    text = text.trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    static const QRegularExpression form(QStringLiteral("^[0-9]+(\\.[0-9]*)?$|^\\.[0-9]+$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return text.toDouble();
}

} // namespace

double kibToMbit(qint64 kib) {
    return double(kib) * kBitsPerKib / 1e6;
}

qint64 mbitToKib(double mbit) {
    if (!(mbit > 0))
        return 0;
    return std::max<qint64>(1, qint64(std::llround(mbit * 1e6 / kBitsPerKib)));
}

QString mbitText(qint64 kib) {
    if (kib <= 0)
        return QStringLiteral("nessun limite");
    return QStringLiteral("≈ %1 Mbit/s").arg(decimals(kibToMbit(kib)));
}

QString rateText(qint64 kib) {
    if (kib <= 0)
        return QStringLiteral("nessun limite");
    return QStringLiteral("%1 KiB/s %2").arg(kib).arg(mbitText(kib));
}

QString rateAsKib(const QString& typed) {
    static const QRegularExpression withUnit(QStringLiteral("^\\s*(\\S+)\\s*mbit(/s)?\\s*$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = withUnit.match(typed);
    if (!match.hasMatch())
        return typed;
    const std::optional<double> mbit = typedNumber(match.captured(1));
    return mbit ? QString::number(mbitToKib(*mbit)) : typed;
}

QString rateEquivalent(const QString& typed) {
    const QString kib = rateAsKib(typed).trimmed();
    bool ok = false;
    const qint64 value = kib.toLongLong(&ok);
    if (!ok || value < 0)
        return QString();
    return mbitText(value);
}

QString unitName(SizeUnit unit) {
    return unit == SizeUnit::GiB ? QStringLiteral("GiB") : QStringLiteral("MiB");
}

SizeInUnit sizeInUnit(qint64 bytes) {
    const SizeUnit unit = bytes > 0 && bytes % kGiB == 0 ? SizeUnit::GiB : SizeUnit::MiB;
    return {numberInUnit(bytes, unit), unit};
}

QString numberInUnit(qint64 bytes, SizeUnit unit) {
    if (bytes <= 0)
        return QStringLiteral("0");
    QString number =
        italian().toString(double(bytes) / double(unit == SizeUnit::GiB ? kGiB : kMiB), 'f', 2);
    number.remove(italian().groupSeparator());
    if (number.endsWith(QLatin1String(",00")))
        number.chop(3);
    else if (number.endsWith(QLatin1Char('0')))
        number.chop(1);
    return number;
}

std::optional<qint64> bytesFromUnit(const QString& typed, SizeUnit unit) {
    const std::optional<double> number = typedNumber(typed);
    const double bytes = number.value_or(0) * double(unit == SizeUnit::GiB ? kGiB : kMiB);
    // Past 2^62 bytes a double no longer makes a qint64: far beyond any quota.
    if (!number || bytes > 4.6e18)
        return std::nullopt;
    return qint64(std::llround(bytes));
}

QString usedText(qint64 bytes) {
    if (bytes >= kGiB)
        return italian().toString(double(bytes) / double(kGiB), 'f', 1) + QStringLiteral(" GiB");
    if (bytes >= kMiB)
        return italian().toString(double(bytes) / double(kMiB), 'f', 1) + QStringLiteral(" MiB");
    if (bytes > 0)
        return QString::number((bytes + 1023) / 1024) + QStringLiteral(" KiB");
    return QStringLiteral("0 byte");
}

QString sizeText(qint64 bytes) {
    if (bytes <= 0)
        return QStringLiteral("nessuna");
    const SizeInUnit size = sizeInUnit(bytes);
    return size.number + QLatin1Char(' ') + unitName(size.unit);
}

QDate expiryFromDateBox(const QDate& shown) {
    return shown.isValid() && shown > kNeverInDateBox ? shown : QDate();
}

QDate dateBoxOf(const QDate& expires) {
    return expires.isValid() && expires > kNeverInDateBox ? expires : kNeverInDateBox;
}

QString expiryText(const QDate& date) {
    return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : QStringLiteral("mai");
}

QString expiryState(const QDate& expires, const QDate& today) {
    if (!expires.isValid())
        return QStringLiteral("Non scade mai");
    if (access::isExpiredOn(expires, today))
        return QStringLiteral("Scaduto: l'ultimo giorno valido era il %1").arg(expiryText(expires));
    const qint64 days = today.daysTo(expires);
    if (days == 0)
        return QStringLiteral("Valido fino alla fine di oggi (%1)").arg(expiryText(expires));
    return QStringLiteral("Valido fino al %1 compreso (ancora %2)")
        .arg(expiryText(expires),
             days == 1 ? QStringLiteral("1 giorno") : QStringLiteral("%1 giorni").arg(days));
}

} // namespace kv::admin
