#pragma once
// The certificates a libcurl client trusts when the operator names a file of
// extra ones (a private or test CA): the system's, then the file's, in PEM.

#include <QByteArray>
#include <QString>
#include <optional>

namespace kv::net {

// The Italian reason, naming `option`, when `extraFile` cannot be read or
// holds no PEM certificate.
std::optional<QByteArray> systemAndExtraCertificates(const QString& option,
                                                     const QString& extraFile, QString* error);

} // namespace kv::net
