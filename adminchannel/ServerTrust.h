#pragma once
// Whether a remote server's administration certificate is the one trusted
// for it: the fingerprint remembered in known_servers, or the one the
// operator named (--trust) for a first connection or a certificate made
// anew. What to do with an unknown server (ask, refuse) is the caller's.

#include <QString>
#include <optional>

namespace kv {

enum class TrustVerdict {
    Known,    // as remembered
    Named,    // as the operator named it: to be remembered
    Mismatch, // neither as remembered nor as named: nothing may be sent
    Unknown,  // never trusted and not named
};

struct TrustJudgement {
    TrustVerdict verdict = TrustVerdict::Unknown;
    QString expected; // the fingerprint expected (Mismatch)
};

// `named` is empty when the operator named none; "SHA256:" may be left out.
TrustJudgement judgeServerTrust(const std::optional<QString>& remembered, const QString& presented,
                                const QString& named);

} // namespace kv
