#include "program/CliLimits.h"

namespace kv::cli {

QSet<QString> limitOptionNames() {
    QSet<QString> names;
    for (const access::LimitFieldDef& def : access::limitFields())
        names.insert(def.option);
    return names;
}

ReadLimits readLimitOptions(const CliArguments& args) {
    ReadLimits read;
    for (const access::LimitFieldDef& def : access::limitFields()) {
        if (!args.values.contains(def.option))
            continue;
        const access::LimitText text = access::readLimitText(def, args.value(def.option));
        if (!text.ok()) {
            read.error = text.error;
            return read;
        }
        if (def.kind == access::LimitKind::Date)
            read.changes.expires = text.date;
        else
            read.changes.number(def) = text.number;
    }
    return read;
}

QString limitsSummary(const files::AccountLimits& limits) {
    QStringList parts;
    const auto rate = [&parts](qint64 kib, const QString& what) {
        if (kib > 0)
            parts << QStringLiteral("%1 %2 KiB/s").arg(what).arg(kib);
    };
    rate(limits.rateUpKib, QStringLiteral("ricezione"));
    rate(limits.rateDownKib, QStringLiteral("invio"));
    rate(limits.sessionRateUpKib, QStringLiteral("ricezione per sessione"));
    rate(limits.sessionRateDownKib, QStringLiteral("invio per sessione"));
    if (limits.quotaBytes > 0)
        parts << QStringLiteral("quota %1").arg(access::sizeText(limits.quotaBytes));
    if (limits.quotaFiles > 0)
        parts << QStringLiteral("quota %1 file").arg(limits.quotaFiles);
    return parts.join(QStringLiteral(", "));
}

QString expiryCell(const files::AccountLimits& limits, const QDateTime& now) {
    const QString date = access::expiresText(limits.expires);
    if (access::isExpired(limits.expires, now))
        return date + QStringLiteral(" (scaduto)");
    return date;
}

void addLimitsJson(QJsonObject& object, const files::AccountLimits& limits, const QDateTime& now) {
    for (const access::LimitFieldDef& def : access::limitFields()) {
        if (def.member)
            object.insert(def.column, double(limits.*def.member));
    }
    object.insert(access::limitField(access::LimitField::Expires).column,
                  limits.expires.isValid() ? QJsonValue(access::expiresText(limits.expires))
                                           : QJsonValue());
    object.insert(QStringLiteral("expired"), access::isExpired(limits.expires, now));
}

} // namespace kv::cli
