#include "core/ServerRates.h"

#include "settings/OptionCatalog.h"

namespace kv {

session::ServerLimits serverLimitsFromOptions(const QMap<QString, QString>& rows) {
    using namespace settings::option;
    const settings::OptionSet set = settings::optionCatalog().checkAll(rows);
    session::ServerLimits limits;
    limits.rateUpKib = set.value(kRateUpKib).toLongLong();
    limits.rateDownKib = set.value(kRateDownKib).toLongLong();
    limits.addressRateUpKib = set.value(kRateIpUpKib).toLongLong();
    limits.addressRateDownKib = set.value(kRateIpDownKib).toLongLong();
    limits.localExempt = set.value(kRateLocalExempt) == QLatin1String("1");
    limits.quotaWarnPercent = set.value(kQuotaWarnPercent).toInt();
    return limits;
}

} // namespace kv
