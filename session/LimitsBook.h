#pragma once
// The speed limits and quotas in force now, for every protocol: the server's
// own (from the options) and each account's (by account number). The
// program fills it at start and at every reload or change; the rate limiter
// and the quota keeper read it, so a changed limit reaches sessions and
// transfers already running. version() grows at every change: a reader keeps
// what it derived from the book until the version moves.

#include "files/AccountLimits.h"

#include <QHash>
#include <QtGlobal>

namespace kv::session {

struct ServerLimits {
    qint64 rateUpKib = 0; // the whole server, every session together; 0: none
    qint64 rateDownKib = 0;
    qint64 addressRateUpKib = 0; // each client address, all its sessions together
    qint64 addressRateDownKib = 0;
    bool localExempt = false;  // clients on the local network are not limited
    int quotaWarnPercent = 80; // 0: no warning
    friend bool operator==(const ServerLimits&, const ServerLimits&) = default;
};

class LimitsBook {
public:
    const ServerLimits& server() const { return server_; }
    void setServer(const ServerLimits& limits);

    // The limits of account `accountId` (files::LoginGrant::accountId); none
    // for an account the book does not hold.
    files::AccountLimits account(qint32 accountId) const { return accounts_.value(accountId); }
    // Every account's limits at once, replacing what the book held.
    void setAccounts(const QHash<qint32, files::AccountLimits>& accounts);
    void setAccount(qint32 accountId, const files::AccountLimits& limits);

    quint64 version() const { return version_; }

private:
    ServerLimits server_;
    QHash<qint32, files::AccountLimits> accounts_;
    quint64 version_ = 1;
};

} // namespace kv::session
