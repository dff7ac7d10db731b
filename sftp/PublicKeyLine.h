#pragma once
// One OpenSSH public key line ("ssh-ed25519 AAAA... comment", the content of
// id_ed25519.pub) read and checked before it may open an account: only the
// key types the SFTP server accepts, RSA of at least 2048 bits, the type word
// matching the key itself. The SHA-256 fingerprint is written as OpenSSH
// prints it, so the operator can compare it with `ssh-keygen -lf`.

#include <QString>

#include <optional>

struct ssh_key_struct;

namespace kv::sftp {

struct PublicKey {
    QString type;        // "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa", ...
    QString base64;      // the key blob as libssh writes it back
    QString comment;     // the rest of the line, spaces kept; may be empty
    QString fingerprint; // "SHA256:..."
};

struct PublicKeyParse {
    std::optional<PublicKey> key;
    QString error; // Italian, when key is empty
};

PublicKeyParse parsePublicKeyLine(const QString& text);

// "SHA256:" and the unpadded base64 of the key's SHA-256 hash; empty on failure.
QString keyFingerprint(const ssh_key_struct* key);

// The key types (signature algorithms) a client may log in with.
const char* acceptedKeyAlgorithms();
constexpr int kMinimumRsaBits = 2048;

} // namespace kv::sftp
