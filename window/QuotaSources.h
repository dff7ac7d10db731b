#pragma once
// What the account panel shows of an account's quota: the space and files it
// uses (the running server's tally, else the one kept in accounts.dat) and
// the accounts whose folders overlap its own.

#include "panels/logic/AccountLimitsLogic.h"

namespace kv {
class ProgramCore;
}

namespace kv::ui {

admin::QuotaUsageSource quotaUsageSource(ProgramCore& core);
admin::OverlapSource quotaOverlapSource(ProgramCore& core);

} // namespace kv::ui
