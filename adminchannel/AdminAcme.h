#pragma once
// The administration channel's view of the ACME keeper: the certificate it
// keeps, the next attempt and the last failure as JSON, and "renew now".

#include <QJsonObject>

namespace kv {

class AcmeKeeper;
struct AcmeState;

// {"enabled", "names", "issuer", "serial", "notAfter", "nextAttempt",
// "lastError", "working", "attempts"}; times in UTC ISO form, null when unset.
QJsonObject acmeStateJson(const AcmeState& state);

// {"op":"acme"}: {"ok": true, "acme": state}. With "renew": true an attempt
// starts first and the answer comes at once; refused while acme is off.
QJsonObject acmeAnswer(AcmeKeeper& keeper, const QJsonObject& body);

} // namespace kv
