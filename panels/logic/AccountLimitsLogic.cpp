// One account's limits as the "Limiti" group reads and writes them.
#include "panels/logic/AccountLimitsLogic.h"

#include "access/AccountLimitsTable.h"
#include "access/AccountService.h"

#include <QRegularExpression>

namespace kv::admin {

using access::LimitField;
using access::limitField;

namespace {

bool hasLetters(const QString& text) {
    static const QRegularExpression letter(QStringLiteral("[A-Za-z]"));
    return letter.match(text).hasMatch();
}

} // namespace

AccountLimitsLogic::AccountLimitsLogic(QSqlDatabase db, std::function<QString()> savedLogin)
    : db_(std::move(db)), savedLogin_(std::move(savedLogin)) {
    refresh();
}

bool AccountLimitsLogic::refresh() {
    accountId_ = -1;
    limits_ = {};
    login_.clear();
    if (!db_.isValid())
        return false;
    access::AccountService service(db_);
    if (!savedLogin_) {
        if (const auto row = service.anonymous()) {
            accountId_ = files::kAnonymousAccountId;
            limits_ = row->limits;
        }
        return hasAccount();
    }
    const QString login = savedLogin_();
    const auto id = login.isEmpty() ? std::nullopt : service.accountId(login);
    if (!id)
        return false;
    accountId_ = qint32(*id);
    login_ = login;
    limits_ = access::AccountLimitsTable(db_).read(accountId_);
    return true;
}

QString AccountLimitsLogic::rateShown(LimitField field) const {
    const access::LimitFieldDef& def = limitField(field);
    return def.member ? QString::number(limits_.*def.member) : QString();
}

std::optional<QString> AccountLimitsLogic::setRate(LimitField field, const QString& typed) {
    const access::LimitFieldDef& def = limitField(field);
    const QString kib = rateAsKib(typed);
    qint64 number = 0;
    if (kib != typed) { // typed in Mbit/s: judged as typed
        number = kib.toLongLong();
        if (auto problem = access::limitValueProblem(def, number, typed.trimmed()))
            return problem;
    } else {
        const access::LimitText read = access::readLimitText(def, typed);
        if (!read.ok())
            return read.error;
        number = read.number;
    }
    access::LimitChanges changes;
    changes.number(def) = number;
    return write(changes);
}

std::optional<QString> AccountLimitsLogic::setQuota(const QString& typed, SizeUnit unit) {
    const access::LimitFieldDef& def = limitField(LimitField::QuotaBytes);
    const QString trimmed = typed.trimmed();
    access::LimitChanges changes;
    if (trimmed.isEmpty()) {
        changes.quotaBytes = 0;
    } else if (const auto bytes = bytesFromUnit(trimmed, unit)) {
        if (auto problem =
                access::limitValueProblem(def, *bytes, trimmed + QLatin1Char(' ') + unitName(unit)))
            return problem;
        changes.quotaBytes = *bytes;
    } else {
        // A size with its own unit ("1536M") is read as the command line
        // reads it; anything else in the unit chosen, to be refused so.
        const access::LimitText read = access::readLimitText(
            def, hasLetters(trimmed) ? trimmed : trimmed + QLatin1Char(' ') + unitName(unit));
        if (!read.ok())
            return read.error;
        changes.quotaBytes = read.number;
    }
    return write(changes);
}

std::optional<QString> AccountLimitsLogic::setQuotaFiles(const QString& typed) {
    const access::LimitFieldDef& def = limitField(LimitField::QuotaFiles);
    const access::LimitText read = access::readLimitText(def, typed);
    if (!read.ok())
        return read.error;
    access::LimitChanges changes;
    changes.quotaFiles = read.number;
    return write(changes);
}

std::optional<QString> AccountLimitsLogic::setExpires(const QDate& date) {
    access::LimitChanges changes;
    changes.expires = date.isValid() ? date : QDate();
    return write(changes);
}

std::optional<QString> AccountLimitsLogic::write(const access::LimitChanges& changes) {
    if (!hasAccount())
        return QStringLiteral("Nessun account selezionato");
    if (changes.appliedTo(limits_) == limits_)
        return std::nullopt; // nothing new: nothing written
    access::AccountFields fields;
    fields.limits = changes;
    access::AccountService service(db_);
    const auto refusal = savedLogin_ ? service.changeAccount(login_, std::nullopt, fields)
                                     : service.changeAnonymous(fields);
    refresh();
    if (!refusal && written_)
        written_();
    return refusal;
}

QString AccountLimitsLogic::usageText() const {
    if (!usage_ || !hasAccount())
        return {};
    const std::optional<QuotaUsage> used = usage_(accountId_);
    if (!used)
        return QStringLiteral("Spazio usato: non ancora contato");
    QString bytes = usedText(used->bytes);
    if (limits_.quotaBytes > 0)
        bytes += QStringLiteral(" di %1 (%2%)")
                     .arg(sizeText(limits_.quotaBytes))
                     .arg(used->bytes * 100 / limits_.quotaBytes);
    QString files = QStringLiteral("%1 file").arg(used->files);
    if (limits_.quotaFiles > 0)
        files += QStringLiteral(" di %1").arg(limits_.quotaFiles);
    return QStringLiteral("Spazio usato: %1, %2").arg(bytes, files);
}

QString AccountLimitsLogic::overlapText() const {
    const QStringList others = overlaps_ && hasAccount() ? overlaps_(accountId_) : QStringList();
    if (others.isEmpty())
        return {};
    return QStringLiteral("Cartelle in comune con: %1 (un file lì conta per ciascuno di questi "
                          "account)")
        .arg(others.join(QStringLiteral(", ")));
}

QString AccountLimitsLogic::expiryText(const QDate& today) const {
    return expiryState(limits_.expires, today);
}

QString AccountLimitsLogic::ratesSummary() const {
    const auto line = [](QString direction, qint64 account, qint64 session) {
        direction.replace(0, 1, direction.at(0).toUpper());
        return QStringLiteral("%1: account %2, ogni sessione %3.")
            .arg(direction, rateText(account), rateText(session));
    };
    return line(kUpDirection, limits_.rateUpKib, limits_.sessionRateUpKib) + QLatin1Char('\n') +
           line(kDownDirection, limits_.rateDownKib, limits_.sessionRateDownKib);
}

} // namespace kv::admin
