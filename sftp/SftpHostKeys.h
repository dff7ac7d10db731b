#pragma once
// The server's SSH host keys: an Ed25519 key and, for older clients, an
// ECDSA P-256 key, kept in the data folder (mode 0600, like the TLS key) and
// generated there at the first start of SFTP. Their SHA-256 fingerprints are
// what users compare on their first connection.

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace kv::sftp {

struct HostKeyFiles {
    QString ed25519;
    QString ecdsa;
};

HostKeyFiles hostKeyFiles(const QString& dataFolder);

// Generates each missing key file; the Italian reason when one cannot be
// made, empty when both are ready. An existing file is never replaced.
QString ensureHostKeys(const HostKeyFiles& files);

// "SHA256:..." of the public half of a private key file; empty when unreadable.
QString hostKeyFingerprint(const QString& privateKeyFile);

// One line per key for the log and the status: "ED25519 SHA256:...".
QStringList hostKeyFingerprintLines(const HostKeyFiles& files);

// The fingerprint of each key that exists and can be read, by its kind
// ("ED25519", "ECDSA"); empty before SFTP first started.
QList<std::pair<QString, QString>> existingHostKeyFingerprints(const HostKeyFiles& files);

} // namespace kv::sftp
