#pragma once
// An account's speed limits, quota and expiry date. "Up" is what the client
// sends (an upload, the server receives), "down" what it takes (a download,
// the server sends). Rates are KiB/s (1 KiB = 1,024 bytes); 0 means none.

#include <QDate>
#include <QtGlobal>

namespace kv::files {

struct AccountLimits {
    qint64 rateUpKib = 0; // the account's total, all its sessions together
    qint64 rateDownKib = 0;
    qint64 sessionRateUpKib = 0; // each of its sessions
    qint64 sessionRateDownKib = 0;
    qint64 quotaBytes = 0; // 0: no quota on bytes
    qint64 quotaFiles = 0; // 0: no quota on files
    QDate expires;         // null: never; the account ends at this day's local midnight

    bool hasQuota() const { return quotaBytes > 0 || quotaFiles > 0; }
    bool hasRates() const {
        return rateUpKib > 0 || rateDownKib > 0 || sessionRateUpKib > 0 || sessionRateDownKib > 0;
    }
    friend bool operator==(const AccountLimits&, const AccountLimits&) = default;
};

} // namespace kv::files
