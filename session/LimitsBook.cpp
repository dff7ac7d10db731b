#include "session/LimitsBook.h"

namespace kv::session {

void LimitsBook::setServer(const ServerLimits& limits) {
    if (limits == server_)
        return;
    server_ = limits;
    ++version_;
}

void LimitsBook::setAccounts(const QHash<qint32, files::AccountLimits>& accounts) {
    if (accounts == accounts_)
        return;
    accounts_ = accounts;
    ++version_;
}

void LimitsBook::setAccount(qint32 accountId, const files::AccountLimits& limits) {
    // An account the book does not hold has no limits already.
    if (accounts_.value(accountId) == limits)
        return;
    accounts_.insert(accountId, limits);
    ++version_;
}

} // namespace kv::session
