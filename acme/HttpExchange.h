#pragma once
// One blocking HTTPS exchange with the CA over libcurl: certificates always
// verified, against the system's store and the extra PEM certificates the
// operator names (a private or test CA). Only the worker thread of
// AcmeHttpTransport calls performExchange().

#include "acme/AcmeMessages.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <optional>

namespace kv::acme {

// The system's certificates followed by those of `extraFile`, or the
// reason (Italian) the file cannot be read or holds none.
std::optional<QByteArray> trustedCertificates(const QString& extraFile, QString* error);

// `trusted` empty: the system's store alone. `cancel`, when set, ends the
// exchange at the next chance.
AcmeResponse performExchange(const AcmeRequest& request, const QByteArray& trusted,
                             const std::atomic<bool>* cancel);

void initCurlOnce();

} // namespace kv::acme
