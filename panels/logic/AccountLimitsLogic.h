#pragma once
// The behaviour of the Account panel's "Limiti" group, free of widgets: one
// account's speed limits (its total and each session's, in KiB/s, typed also
// in Mbit/s), its quota (in MiB or GiB, and a number of files) with the
// space it uses, and its expiry date ("mai" when none). Read and written
// through access::AccountService, at once, as the account's SFTP keys are;
// a value is refused with the words of the limit fields' declaration
// (access/AccountLimitFields.h), the command line's too.

#include "access/AccountLimitFields.h"
#include "files/AccountLimits.h"
#include "files/LoginGrant.h"
#include "panels/logic/LimitUnits.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace kv::admin {

// What an account uses of its quota, as the quota's bookkeeping counted it.
struct QuotaUsage {
    qint64 bytes = 0;
    qint64 files = 0;
};
// The usage of account number `accountId` (files::kAnonymousAccountId for
// the anonymous account); nullopt while it has not been counted.
using QuotaUsageSource = std::function<std::optional<QuotaUsage>(qint32 accountId)>;
// The other accounts whose folders overlap this one's (a file there counts
// for each of them).
using OverlapSource = std::function<QStringList(qint32 accountId)>;

class AccountLimitsLogic {
public:
    // `savedLogin` names the account edited now (empty: none); without it
    // the group edits the anonymous account.
    AccountLimitsLogic(QSqlDatabase db, std::function<QString()> savedLogin = {});

    // Where the space used and the overlapping accounts come from; unset:
    // the group says nothing of them.
    void setUsageSource(QuotaUsageSource source) { usage_ = std::move(source); }
    void setOverlapSource(OverlapSource source) { overlaps_ = std::move(source); }
    // Called after each change written to accounts.dat.
    void setWritten(std::function<void()> written) { written_ = std::move(written); }

    // Rereads the limits of the account named now; false when there is none.
    bool refresh();
    bool hasAccount() const { return accountId_ >= 0; }
    // users.ID, files::kAnonymousAccountId, or -1 without an account.
    qint32 accountId() const { return accountId_; }
    const files::AccountLimits& limits() const { return limits_; }

    // What each box shows.
    QString rateShown(access::LimitField field) const;
    SizeInUnit quotaShown() const { return sizeInUnit(limits_.quotaBytes); }
    QString quotaFilesShown() const { return QString::number(limits_.quotaFiles); }

    // A value typed or chosen, written at once: nothing when it is kept,
    // else the Italian reason, and nothing is written.
    std::optional<QString> setRate(access::LimitField field, const QString& typed);
    std::optional<QString> setQuota(const QString& typed, SizeUnit unit);
    std::optional<QString> setQuotaFiles(const QString& typed);
    // A null date: the account never expires.
    std::optional<QString> setExpires(const QDate& date);

    // "Spazio usato: 1,2 GiB di 5 GiB (24%), 340 file di 1000"; empty
    // without a source of usage or an account.
    QString usageText() const;
    // "Cartelle in comune con: anna, bea (i loro file contano per ciascuno)";
    // empty when none overlaps.
    QString overlapText() const;
    // What the expiry date means on `today` (expiryState).
    QString expiryText(const QDate& today) const;
    // What the rates kept now mean, in one line per direction.
    QString ratesSummary() const;

private:
    std::optional<QString> write(const access::LimitChanges& changes);

    QSqlDatabase db_;
    std::function<QString()> savedLogin_;
    QuotaUsageSource usage_;
    OverlapSource overlaps_;
    std::function<void()> written_;
    QString login_;         // the account's saved login; empty for the anonymous account
    qint32 accountId_ = -1; // -1: no account
    files::AccountLimits limits_;
};

} // namespace kv::admin
