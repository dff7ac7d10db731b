// The operations on the administered tables of accounts.dat.
#include "adminchannel/DataOperations.h"

#include "core/ProgramCore.h"

namespace kv {

DataOperations::DataOperations(ProgramCore& core, QObject* parent) : QObject(parent), core_(core) {}

bool DataOperations::handles(const QString& op) {
    return op == QLatin1String("snapshot") || op == QLatin1String("apply") ||
           op == QLatin1String("browse");
}

QJsonObject DataOperations::answer(const AdminRequest& request) {
    (void)core_;
    return {{QStringLiteral("ok"), false},
            {QStringLiteral("error"),
             QStringLiteral("Operazione non disponibile: %1").arg(request.op)}};
}

} // namespace kv
