#pragma once
// Stored passwords: users.password holds either a crypt(3) hash (yescrypt
// "$y$", SHA-512-crypt "$6$", bcrypt "$2b$"), verified with the system's
// libcrypt, or clear text as older files have it, compared as it stands.
// New passwords are stored as yescrypt hashes.
//
// The engine asks for a login verdict on the GUI thread and waits, so a
// verification must stay short: new hashes use yescrypt cost 1 (1 MiB,
// about 4 ms here; bench/hashcost measures it). Hashes of higher cost made
// elsewhere still verify, only more slowly.

#include <QHash>
#include <QString>
#include <optional>

namespace kv::access {

inline constexpr int kYescryptCost = 1;

// What the panels show in place of a stored or typed password.
inline const QString kPasswordMask = QStringLiteral("********");

// kPasswordMask for a password that is set, "" for an empty one.
inline QString maskedPassword(const QString& password) {
    return password.isEmpty() ? QString() : kPasswordMask;
}

// True when the stored value is verified as a hash (it starts with "$y$",
// "$6$" or "$2b$"). Such a value never matches as clear text: a malformed
// hash matches no password, and the hash string typed as a password is
// refused like any other wrong password.
bool isPasswordHash(const QString& stored);

// Whether `stored` is a hash the verifier can check (a known method with a
// well-formed setting), as a hash sent over the administration channel must be.
bool isVerifiableHash(const QString& stored);

// A new yescrypt hash of `password` with a fresh random salt; nullopt when
// libcrypt cannot make one (no randomness, unknown cost).
std::optional<QString> hashPassword(const QString& password, int cost = kYescryptCost);

// Whether the typed password opens the stored value; letter case counts.
// Comparisons take the same time wherever two values first differ.
bool passwordMatches(const QString& stored, const QString& typed);

// passwordMatches with a memory of recent answers for hashes, so asking again
// about a connection that already logged in (the online list reads its
// account's root on every refresh) costs no second hashing. Only digests of
// the pairs are kept, never the typed passwords.
class PasswordChecker {
public:
    bool matches(const QString& stored, const QString& typed);

private:
    static constexpr int kRemembered = 512;
    QHash<QByteArray, bool> recent_;
};

} // namespace kv::access
