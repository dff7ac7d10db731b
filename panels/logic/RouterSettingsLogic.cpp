// The router group's behaviour: its two options and the forwarding advice.
#include "panels/logic/RouterSettingsLogic.h"

#include "panels/logic/OptionEdit.h"
#include "settings/NetworkOptions.h"

namespace kv::admin {

using namespace settings::option;

const QStringList& RouterSettingsLogic::options() {
    static const QStringList names = {kPassivePorts, kPassiveAddress};
    return names;
}

RouterForm RouterSettingsLogic::load() const {
    return {shownOption(table_, kPassivePorts), shownOption(table_, kPassiveAddress)};
}

std::optional<QString> RouterSettingsLogic::change(const QString& option, const QString& text) {
    return changeOption(table_, option, text);
}

QString RouterSettingsLogic::forwardingText(const QString& controlPort) const {
    const QString port = controlPort.trimmed().isEmpty() ? QStringLiteral("21") : controlPort;
    const auto range = settings::portRange(shownOption(table_, kPassivePorts));
    if (!range)
        return QStringLiteral("Sul router inoltrare a questo PC la porta TCP %1. Indicare anche "
                              "un intervallo di porte passive: senza, chi si collega "
                              "dall'esterno entra ma non può trasferire file.")
            .arg(port);
    return QStringLiteral("Sul router inoltrare a questo PC la porta TCP %1 (controllo) e le "
                          "porte TCP da %2 a %3 (dati, modalità passiva).")
        .arg(port)
        .arg(range->first)
        .arg(range->second);
}

} // namespace kv::admin
