// The remote administration options' checks.
#include "settings/AdminOptions.h"

#include "settings/AddressPattern.h"
#include "settings/OptionChecks.h"

#include <algorithm>

namespace kv::settings {

namespace {

QStringList entries(const QString& list) {
    QStringList kept;
    for (const QString& entry : list.split(QLatin1Char(','))) {
        if (!entry.trimmed().isEmpty())
            kept.append(entry.trimmed());
    }
    return kept;
}

} // namespace

OptionCheck checkAdminAddress(const OptionDef& option, const QString& trimmed) {
    const QHostAddress address(trimmed);
    if (address.isNull() || address.isMulticast())
        return refused(refusal(option, trimmed, QStringLiteral("non è un indirizzo IP del PC")));
    return accepted(address.toString());
}

OptionCheck checkAdminAllowed(const OptionDef& option, const QString& trimmed) {
    const QStringList list = entries(trimmed);
    for (const QString& entry : list) {
        if (!AddressPattern::parse(entry))
            return refused(
                QStringLiteral("Opzione %1: %2").arg(option.name, invalidEntryMessage(entry)));
    }
    if (list.isEmpty())
        return refused(refusal(option, trimmed, QStringLiteral("non contiene alcun indirizzo")));
    return accepted(list.join(QStringLiteral(", ")));
}

bool adminAddressAllowed(const QString& allowedList, const QHostAddress& client) {
    const QStringList list = entries(allowedList);
    return std::any_of(list.cbegin(), list.cend(), [&](const QString& entry) {
        const auto pattern = AddressPattern::parse(entry);
        return pattern && pattern->matches(client);
    });
}

} // namespace kv::settings
