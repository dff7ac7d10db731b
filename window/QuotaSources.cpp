#include "window/QuotaSources.h"

#include "core/ProgramCore.h"

namespace kv::ui {

admin::QuotaUsageSource quotaUsageSource(ProgramCore& core) {
    return [&core](qint32 accountId) -> std::optional<admin::QuotaUsage> {
        if (core.quota().started()) {
            const session::QuotaTally used = core.quota().used(accountId);
            return admin::QuotaUsage{used.bytes, used.files};
        }
        const auto stored = core.quotaTable().loadTallies().value(accountId);
        if (!stored.kept)
            return std::nullopt; // never counted: nothing true to show
        return admin::QuotaUsage{stored.tally.bytes, stored.tally.files};
    };
}

admin::OverlapSource quotaOverlapSource(ProgramCore& core) {
    return [&core](qint32 accountId) {
        const QString login = core.quotaTable().loginOf(accountId);
        for (QStringList group : core.quotaTable().overlaps()) {
            if (group.removeAll(login) > 0)
                return group;
        }
        return QStringList();
    };
}

} // namespace kv::ui
