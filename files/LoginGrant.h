#pragma once
// What a login grants, decided once when the password is accepted and held
// by the session for its whole life: who it is, what it may do, and which
// folders it sees. Every later decision of the session reads this value; a
// change to the account applies from the next login.

#include "files/AccountLimits.h"
#include "files/Rights.h"
#include "files/VirtualDir.h"

#include <QList>
#include <QString>

namespace kv::files {

// The account number of the anonymous account, and of no account at all.
inline constexpr qint32 kAnonymousAccountId = 0;
inline constexpr qint32 kNoAccountId = -2;

struct LoginGrant {
    qint32 accountId = kNoAccountId; // users.ID, kAnonymousAccountId, or kNoAccountId
    QString login;                   // as the client typed it
    bool anonymous = false;          // the anonymous account (any password)
    Rights rights;
    QString root; // the folder the client sees as "/"
    QList<VirtualDir> virtualDirs;
    QString address; // the client's address as the lists compare it
    // As they stood at the login; the limits book has the ones in force now.
    AccountLimits limits;
};

} // namespace kv::files
