#include "adminchannel/ServerTrust.h"

namespace kv {

TrustJudgement judgeServerTrust(const std::optional<QString>& remembered, const QString& presented,
                                const QString& named) {
    if (!named.isEmpty()) {
        const QString prefix = QStringLiteral("SHA256:");
        const QString full = named.startsWith(prefix) ? named : prefix + named;
        if (full != presented)
            return {TrustVerdict::Mismatch, full};
        return {remembered == presented ? TrustVerdict::Known : TrustVerdict::Named, {}};
    }
    if (!remembered)
        return {TrustVerdict::Unknown, {}};
    if (*remembered != presented)
        return {TrustVerdict::Mismatch, *remembered};
    return {TrustVerdict::Known, {}};
}

} // namespace kv
