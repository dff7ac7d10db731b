#pragma once
// What the Impostazioni panel says about the SFTP host keys: their SHA-256
// fingerprints, which users compare with what their client shows on the
// first connection, once SFTP has made the keys in the data folder.

#include <QString>

namespace kv::admin {

// One line per key ("ED25519  SHA256:..."), or why there are none yet.
QString sftpHostKeyText(const QString& dataFolder);

} // namespace kv::admin
