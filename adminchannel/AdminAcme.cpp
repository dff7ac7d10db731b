#include "adminchannel/AdminAcme.h"

#include "core/AcmeKeeper.h"

#include <QJsonArray>

namespace kv {

namespace {

QJsonValue isoOrNull(const QDateTime& when) {
    return when.isValid() ? QJsonValue(when.toUTC().toString(Qt::ISODate))
                          : QJsonValue(QJsonValue::Null);
}

} // namespace

QJsonObject acmeStateJson(const AcmeState& state) {
    return {{QStringLiteral("enabled"), state.enabled},
            {QStringLiteral("names"), QJsonArray::fromStringList(state.names)},
            {QStringLiteral("issuer"), state.issuer},
            {QStringLiteral("serial"), state.serial},
            {QStringLiteral("notAfter"), isoOrNull(state.notAfter)},
            {QStringLiteral("nextAttempt"), isoOrNull(state.nextAttempt)},
            {QStringLiteral("lastError"), state.lastError},
            {QStringLiteral("working"), state.working},
            {QStringLiteral("attempts"), state.attempts}};
}

QJsonObject acmeAnswer(AcmeKeeper& keeper, const QJsonObject& body) {
    const QJsonValue renew = body.value(QStringLiteral("renew"));
    if (!renew.isUndefined() && !renew.isBool())
        return {{QStringLiteral("ok"), false},
                {QStringLiteral("error"), QStringLiteral("Il campo renew vuole true o false")}};
    if (renew.toBool()) {
        if (!keeper.state().enabled)
            return {{QStringLiteral("ok"), false},
                    {QStringLiteral("error"),
                     QStringLiteral("I certificati automatici (ACME) non sono attivi: "
                                    "kestrova option set acme on")}};
        keeper.renewNow();
    }
    return {{QStringLiteral("ok"), true}, {QStringLiteral("acme"), acmeStateJson(keeper.state())}};
}

} // namespace kv
