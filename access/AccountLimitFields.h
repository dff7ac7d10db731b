#pragma once
// The one declaration of an account's limit fields (speed limits, quota,
// expiry date): the column of the account_limits table, the command line's
// option, the kind of value, its range and the Italian caption. The account
// service, the command line and the account panel read a typed value through
// readLimitText() and judge a number through limitValueProblem(), so a value
// is refused with the same message everywhere.

#include "files/AccountLimits.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace kv::access {

enum class LimitKind {
    Rate,  // whole KiB/s, 0 = none
    Size,  // bytes, or a number with K, M, G, T (powers of 1,024); 0 = none
    Count, // a whole number of files, 0 = none
    Date,  // YYYY-MM-DD, or empty / "never" for none
};

enum class LimitField {
    RateUp,
    RateDown,
    SessionRateUp,
    SessionRateDown,
    QuotaBytes,
    QuotaFiles,
    Expires,
};

struct LimitFieldDef {
    LimitField field;
    QString column; // in account_limits
    QString option; // the command line's, without "--"
    LimitKind kind;
    qint64 maximum;  // numbers only
    QString caption; // Italian: the panel's label and the start of every refusal
    // The number in files::AccountLimits; null for the expiry date.
    qint64 files::AccountLimits::*member;
};

// The largest quota: 1,048,576 T (2^60 bytes); the most files a quota counts.
inline constexpr qint64 kMaxQuotaBytes = qint64(1) << 60;
inline constexpr qint64 kMaxQuotaFiles = qint64(1) << 40;

// In the order the panel and the help show them.
const QList<LimitFieldDef>& limitFields();
const LimitFieldDef& limitField(LimitField field);

// A typed value read for one field: the number or the date (a null date:
// never), or the Italian reason it is refused.
struct LimitText {
    qint64 number = 0;
    QDate date;
    QString error;
    bool ok() const { return error.isEmpty(); }
};
LimitText readLimitText(const LimitFieldDef& def, const QString& text);
// Why a number is refused for a numeric field (negative, beyond its maximum);
// the message quotes `typed` when given, else the number.
std::optional<QString> limitValueProblem(const LimitFieldDef& def, qint64 value,
                                         const QString& typed = QString());

// Bytes: plain digits, or digits followed by K, M, G or T (either case, an
// optional "B" or "iB" after it), powers of 1,024. The reason (without the
// field's caption) when refused.
struct SizeText {
    qint64 bytes = 0;
    QString error;
};
SizeText readSize(const QString& text);
// The shortest exact form readSize() reads back ("1536M", "0", "1000").
QString sizeText(qint64 bytes);

// What to set of an account's limits; unset: left as it is. A null
// `expires` means "never".
struct LimitChanges {
    std::optional<qint64> rateUpKib;
    std::optional<qint64> rateDownKib;
    std::optional<qint64> sessionRateUpKib;
    std::optional<qint64> sessionRateDownKib;
    std::optional<qint64> quotaBytes;
    std::optional<qint64> quotaFiles;
    std::optional<QDate> expires;

    bool isEmpty() const;
    // The number field `def` names (never the expiry date: see `expires`).
    std::optional<qint64>& number(const LimitFieldDef& def);
    const std::optional<qint64>& number(const LimitFieldDef& def) const;
    // `limits` with these changes made.
    files::AccountLimits appliedTo(files::AccountLimits limits) const;
    // The first value refused, with its reason.
    std::optional<QString> problem() const;
};

// "YYYY-MM-DD", or "" for never.
QString expiresText(const QDate& expires);

// An account whose expiry date is D may log in until the end of D and is
// expired from local midnight at the start of D + 1: expired when the local
// date of `now` is after D. A null date never expires.
bool isExpired(const QDate& expires, const QDateTime& now);
// The same for a local date `today`.
bool isExpiredOn(const QDate& expires, const QDate& today);
// The moment an account with this date expires: D + 1 at 00:00 local time
// (the first moment of that day where midnight is skipped by a clock change).
QDateTime expiryMoment(const QDate& expires);

} // namespace kv::access
