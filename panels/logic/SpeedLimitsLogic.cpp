// The rates group's options, typed in KiB/s or Mbit/s, and its summary.
#include "panels/logic/SpeedLimitsLogic.h"

#include "panels/logic/LimitUnits.h"
#include "panels/logic/OptionEdit.h"

namespace kv::admin {

using namespace settings::option;

const QStringList& SpeedLimitsLogic::options() {
    static const QStringList names = {kRateUpKib,     kRateDownKib,     kRateIpUpKib,
                                      kRateIpDownKib, kRateLocalExempt, kQuotaWarnPercent};
    return names;
}

const QStringList& SpeedLimitsLogic::rateOptions() {
    static const QStringList names = {kRateUpKib, kRateDownKib, kRateIpUpKib, kRateIpDownKib};
    return names;
}

QString SpeedLimitsLogic::caption(const QString& option) const {
    const settings::OptionDef* def = table_.catalog().find(option);
    return def ? def->caption : option;
}

QString SpeedLimitsLogic::shown(const QString& option) const {
    return shownOption(table_, option);
}

std::optional<QString> SpeedLimitsLogic::change(const QString& option, const QString& text) {
    return changeOption(table_, option, rateOptions().contains(option) ? rateAsKib(text) : text);
}

bool SpeedLimitsLogic::localExempt() const {
    return shown(kRateLocalExempt) == QLatin1String("1");
}

std::optional<QString> SpeedLimitsLogic::setLocalExempt(bool on) {
    return change(kRateLocalExempt, on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString SpeedLimitsLogic::summary() const {
    const auto line = [this](const QString& direction, const QString& server,
                             const QString& address) {
        return QStringLiteral("%1: tutto il server %2, ogni indirizzo %3.")
            .arg(direction, rateText(shown(server).toLongLong()),
                 rateText(shown(address).toLongLong()));
    };
    const auto capitalized = [](QString text) { return text.replace(0, 1, text.at(0).toUpper()); };
    QString text = line(capitalized(kUpDirection), kRateUpKib, kRateIpUpKib) + QLatin1Char('\n') +
                   line(capitalized(kDownDirection), kRateDownKib, kRateIpDownKib);
    if (localExempt())
        text += QStringLiteral("\nI client della rete locale non sono limitati.");
    return text;
}

} // namespace kv::admin
