#pragma once
// The body of every ACME POST: a JWS in flattened JSON form, signed ES256
// with the account key, its protected header naming the URL and the nonce,
// and the key itself (before the account exists) or the account's URL.

#include "acme/AccountKey.h"

#include <QByteArray>
#include <QString>

namespace kv::acme {

// `payload` is the JSON text of the request; an empty one makes a
// POST-as-GET. `accountUrl` empty puts the JWK in the header ("jwk"),
// otherwise the header's "kid" names the account. Empty when signing fails.
QByteArray signedRequest(const AccountKey& key, const QString& url, const QByteArray& nonce,
                         const QByteArray& payload, const QString& accountUrl);

} // namespace kv::acme
