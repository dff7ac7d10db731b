#pragma once
// What the FTPS group says of the certificate ACME keeps, from the state the
// administration channel's op "acme" answers (whichever server it is): the
// options it shows, the state line and the last failure.

#include <QJsonObject>
#include <QStringList>

namespace kv::admin {

// The acme options, in the order the FTPS group shows them.
const QStringList& acmeOptions();

// Names, issuer, expiry and the next attempt (or the one running); empty
// while acme is off.
QString acmeStateLine(const QJsonObject& acme);

// The last failure, explained ("" after a success or while acme is off).
QString acmeErrorLine(const QJsonObject& acme);

} // namespace kv::admin
