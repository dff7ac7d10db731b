#include "access/AccountLimitFields.h"

#include "settings/OptionCatalog.h"

#include <QRegularExpression>
#include <limits>

namespace kv::access {

namespace {

using files::AccountLimits;

LimitFieldDef rate(LimitField field, const QString& column, const QString& option,
                   const QString& caption, qint64 AccountLimits::*member) {
    return {field,   column, option, LimitKind::Rate, settings::defaults::kMaxRateKib,
            caption, member};
}

// Plain decimal digits; a number too long for 64 bits reads as the largest.
std::optional<qint64> digits(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^[0-9]+$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    return ok ? number : std::numeric_limits<qint64>::max();
}

bool looksNegative(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^-\\s*[0-9]"));
    return form.match(text).hasMatch();
}

bool looksFractional(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^[0-9]*[.,][0-9]+\\s*[A-Za-z]*$"));
    return form.match(text).hasMatch();
}

QString refusedText(const LimitFieldDef& def, const QString& text, const QString& why) {
    QString shown = text;
    if (shown.size() > 40)
        shown = shown.left(40) + QStringLiteral("…");
    return QStringLiteral("%1: \"%2\" %3").arg(def.caption, shown, why);
}

QString wholeNumberReason(const QString& text) {
    if (looksNegative(text))
        return QStringLiteral("non può essere negativo");
    if (looksFractional(text))
        return QStringLiteral("deve essere un numero intero");
    return QStringLiteral("non è un numero");
}

} // namespace

const QList<LimitFieldDef>& limitFields() {
    static const QList<LimitFieldDef> fields = {
        rate(LimitField::RateUp, QStringLiteral("rate_up_kib"), QStringLiteral("rate-up"),
             QStringLiteral("Velocità massima in ricezione (upload) dell'account, in KiB/s"),
             &AccountLimits::rateUpKib),
        rate(LimitField::RateDown, QStringLiteral("rate_down_kib"), QStringLiteral("rate-down"),
             QStringLiteral("Velocità massima in invio (download) dell'account, in KiB/s"),
             &AccountLimits::rateDownKib),
        rate(LimitField::SessionRateUp, QStringLiteral("session_rate_up_kib"),
             QStringLiteral("session-rate-up"),
             QStringLiteral("Velocità massima in ricezione (upload) di ogni sessione, in KiB/s"),
             &AccountLimits::sessionRateUpKib),
        rate(LimitField::SessionRateDown, QStringLiteral("session_rate_down_kib"),
             QStringLiteral("session-rate-down"),
             QStringLiteral("Velocità massima in invio (download) di ogni sessione, in KiB/s"),
             &AccountLimits::sessionRateDownKib),
        {LimitField::QuotaBytes, QStringLiteral("quota_bytes"), QStringLiteral("quota"),
         LimitKind::Size, kMaxQuotaBytes, QStringLiteral("Quota di spazio"),
         &AccountLimits::quotaBytes},
        {LimitField::QuotaFiles, QStringLiteral("quota_files"), QStringLiteral("quota-files"),
         LimitKind::Count, kMaxQuotaFiles, QStringLiteral("Quota di file"),
         &AccountLimits::quotaFiles},
        {LimitField::Expires, QStringLiteral("expires"), QStringLiteral("expires"), LimitKind::Date,
         0, QStringLiteral("Scadenza dell'account"), nullptr},
    };
    return fields;
}

const LimitFieldDef& limitField(LimitField field) {
    return limitFields().at(int(field));
}

SizeText readSize(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^([0-9]+)\\s*(?:([KMGTkmgt])(?:i?[Bb])?)?$"));
    const QString trimmed = text.trimmed();
    const QRegularExpressionMatch match = form.match(trimmed);
    if (!match.hasMatch()) {
        if (looksNegative(trimmed))
            return {0, QStringLiteral("non può essere negativa")};
        if (looksFractional(trimmed))
            return {0, QStringLiteral("deve essere un numero intero (ad esempio 1536M invece "
                                      "di 1.5G)")};
        return {0, QStringLiteral("non è una dimensione (byte, oppure un numero seguito da K, "
                                  "M, G o T)")};
    }
    const QString unit = match.captured(2).toUpper();
    const int shift = unit.isEmpty()               ? 0
                      : unit == QLatin1String("K") ? 10
                      : unit == QLatin1String("M") ? 20
                      : unit == QLatin1String("G") ? 30
                                                   : 40;
    bool ok = false;
    const qint64 number = match.captured(1).toLongLong(&ok);
    if (!ok || number > (kMaxQuotaBytes >> shift))
        return {0, QStringLiteral("è oltre il massimo (%1)").arg(sizeText(kMaxQuotaBytes))};
    return {number << shift, {}};
}

QString sizeText(qint64 bytes) {
    static const char units[] = {'T', 'G', 'M', 'K'};
    for (int i = 0; i < 4; ++i) {
        const int shift = 40 - 10 * i;
        const qint64 unit = qint64(1) << shift;
        if (bytes > 0 && bytes % unit == 0)
            return QString::number(bytes >> shift) + QLatin1Char(units[i]);
    }
    return QString::number(bytes);
}

std::optional<QString> limitValueProblem(const LimitFieldDef& def, qint64 value,
                                         const QString& typed) {
    if (def.kind == LimitKind::Date)
        return std::nullopt;
    const QString text = !typed.isNull()               ? typed
                         : def.kind == LimitKind::Size ? sizeText(value)
                                                       : QString::number(value);
    if (value < 0)
        return refusedText(def, text, QStringLiteral("non può essere negativo"));
    if (value > def.maximum)
        return refusedText(def, text,
                           QStringLiteral("è oltre il massimo (%1)")
                               .arg(def.kind == LimitKind::Size ? sizeText(def.maximum)
                                                                : QString::number(def.maximum)));
    return std::nullopt;
}

LimitText readLimitText(const LimitFieldDef& def, const QString& text) {
    const QString trimmed = text.trimmed();
    LimitText read;
    switch (def.kind) {
    case LimitKind::Date: {
        if (trimmed.isEmpty() ||
            trimmed.compare(QLatin1String("never"), Qt::CaseInsensitive) == 0 ||
            trimmed.compare(QLatin1String("mai"), Qt::CaseInsensitive) == 0)
            return read;
        static const QRegularExpression form(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
        const QDate date = QDate::fromString(trimmed, Qt::ISODate);
        if (!form.match(trimmed).hasMatch() || !date.isValid())
            read.error =
                refusedText(def, text, QStringLiteral("non è una data (AAAA-MM-GG, oppure never)"));
        read.date = read.error.isEmpty() ? date : QDate();
        return read;
    }
    case LimitKind::Size: {
        const SizeText size = readSize(trimmed);
        if (!size.error.isEmpty()) {
            read.error = refusedText(def, text, size.error);
            return read;
        }
        read.number = size.bytes;
        break;
    }
    case LimitKind::Rate:
    case LimitKind::Count: {
        const std::optional<qint64> number = digits(trimmed);
        if (!number) {
            read.error = refusedText(def, text, wholeNumberReason(trimmed));
            return read;
        }
        read.number = *number;
        break;
    }
    }
    if (const auto problem = limitValueProblem(def, read.number, text))
        read.error = *problem;
    return read;
}

bool LimitChanges::isEmpty() const {
    return !rateUpKib && !rateDownKib && !sessionRateUpKib && !sessionRateDownKib && !quotaBytes &&
           !quotaFiles && !expires;
}

std::optional<qint64>& LimitChanges::number(const LimitFieldDef& def) {
    Q_ASSERT(def.field != LimitField::Expires); // a date: see `expires`
    switch (def.field) {
    case LimitField::RateUp:
        return rateUpKib;
    case LimitField::RateDown:
        return rateDownKib;
    case LimitField::SessionRateUp:
        return sessionRateUpKib;
    case LimitField::SessionRateDown:
        return sessionRateDownKib;
    case LimitField::QuotaBytes:
        return quotaBytes;
    case LimitField::QuotaFiles:
    case LimitField::Expires:
        break;
    }
    return quotaFiles;
}

const std::optional<qint64>& LimitChanges::number(const LimitFieldDef& def) const {
    return const_cast<LimitChanges*>(this)->number(def);
}

files::AccountLimits LimitChanges::appliedTo(files::AccountLimits limits) const {
    for (const LimitFieldDef& def : limitFields()) {
        if (def.member && number(def))
            limits.*def.member = *number(def);
    }
    if (expires)
        limits.expires = expires->isValid() ? *expires : QDate();
    return limits;
}

std::optional<QString> LimitChanges::problem() const {
    for (const LimitFieldDef& def : limitFields()) {
        if (!def.member || !number(def))
            continue;
        if (auto refused = limitValueProblem(def, *number(def)))
            return refused;
    }
    return std::nullopt;
}

QString expiresText(const QDate& expires) {
    return expires.isValid() ? expires.toString(Qt::ISODate) : QString();
}

bool isExpired(const QDate& expires, const QDateTime& now) {
    return isExpiredOn(expires, now.toLocalTime().date());
}

bool isExpiredOn(const QDate& expires, const QDate& today) {
    return expires.isValid() && today > expires;
}

QDateTime expiryMoment(const QDate& expires) {
    return QDateTime(expires.addDays(1), QTime(0, 0), Qt::LocalTime);
}

} // namespace kv::access
