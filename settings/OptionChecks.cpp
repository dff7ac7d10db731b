// The checks of an option's value, by its kind.
#include "settings/OptionChecks.h"

#include "settings/FolderPresence.h"
#include "settings/NetworkOptions.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace kv::settings {

QString shown(const QString& text) {
    constexpr int kLongest = 60;
    return text.size() > kLongest ? text.left(kLongest) + QStringLiteral("...") : text;
}

QString refusal(const OptionDef& option, const QString& text, const QString& why) {
    if (!option.refusedFormat.isEmpty())
        return option.refusedFormat.arg(shown(text));
    return QStringLiteral("Opzione %1: %2 %3").arg(option.name, shown(text), why);
}

std::optional<qint64> wholeNumber(const QString& text) {
    if (text.isEmpty() || text.size() > 12)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    return text.toLongLong();
}

OptionCheck accepted(const QString& value) {
    return {value, {}};
}

OptionCheck refused(const QString& error) {
    return {{}, error};
}

namespace {

OptionCheck checkWord(const OptionDef& option, const QString& text) {
    for (const QString& word : option.words) {
        if (text.compare(word, Qt::CaseInsensitive) == 0)
            return accepted(word);
    }
    return refused(refusal(option, text,
                           QStringLiteral("non è un valore ammesso (%1)")
                               .arg(option.words.join(QStringLiteral(", ")))));
}

OptionCheck checkInteger(const OptionDef& option, const QString& text) {
    const auto number = wholeNumber(text);
    if (number && *number >= option.minimum && *number <= option.maximum)
        return accepted(QString::number(*number));
    return refused(refusal(option, text,
                           QStringLiteral("non è un numero intero da %1 a %2")
                               .arg(option.minimum)
                               .arg(option.maximum)));
}

OptionCheck checkPort(const OptionDef& option, const QString& text) {
    const auto number = wholeNumber(text);
    if (number && *number <= 65535)
        return accepted(QString::number(*number));
    return refused(
        refusal(option, text, QStringLiteral("non è una porta valida (1-65535, 0 = nessuna)")));
}

OptionCheck checkPath(const OptionDef& option, const QString& text) {
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return refused(QStringLiteral("Opzione %1: il percorso contiene caratteri di "
                                          "controllo non ammessi")
                               .arg(option.name));
    }
    return accepted(text);
}

OptionCheck checkSwitch(const OptionDef& option, const QString& text) {
    if (text == QLatin1String("0") || text == QLatin1String("1"))
        return accepted(text);
    return refused(
        refusal(option, text, QStringLiteral("non è un valore ammesso (0 = no, 1 = sì)")));
}

OptionCheck checkVersion(const OptionDef& option, const QString& text) {
    if (text == QLatin1String("1.2") || text == QLatin1String("1.3"))
        return accepted(text);
    return refused(refusal(option, text, QStringLiteral("non è una versione ammessa (1.2, 1.3)")));
}

// Decimal digits with an optional sign and fraction; the fraction is rounded
// to the nearest whole number, a half to the even neighbour.
OptionCheck checkNumber(const OptionDef& option, const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?(\\d{1,15}(\\.\\d*)?|\\.\\d+)$"));
    if (decimal.match(text).hasMatch()) {
        const double rounded = std::nearbyint(text.toDouble());
        if (rounded >= option.minimum && rounded <= option.maximum)
            return accepted(QString::number(qint64(rounded)));
    }
    return refused(refusal(
        option, text,
        QStringLiteral("non è un numero da %1 a %2").arg(option.minimum).arg(option.maximum)));
}

OptionCheck checkFolder(const OptionDef& option, const QString& text) {
    if (folderPresent(text))
        return accepted(text);
    return refused(refusal(option, text, QStringLiteral("non è una cartella esistente")));
}

OptionCheck checkAddress(const OptionDef& option, const QString& text) {
    if (text.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0)
        return accepted(QStringLiteral("Default"));
    if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return accepted(QStringLiteral("localhost"));
    if (const QHostAddress address(text); !address.isNull())
        return accepted(text);
    return refused(refusal(option, text, QStringLiteral("non è un indirizzo IP")));
}

} // namespace

OptionCheck checkOption(const OptionDef& option, const QString& text) {
    const QString trimmed = text.trimmed();
    // An empty value means the default, as a missing row does.
    if (trimmed.isEmpty())
        return accepted(option.defaultValue);
    switch (option.kind) {
    case OptionKind::Word:
        return checkWord(option, trimmed);
    case OptionKind::Integer:
        return checkInteger(option, trimmed);
    case OptionKind::Port:
        return checkPort(option, trimmed);
    case OptionKind::Path:
        return checkPath(option, trimmed);
    case OptionKind::Switch:
        return checkSwitch(option, trimmed);
    case OptionKind::Version:
        return checkVersion(option, trimmed);
    case OptionKind::Custom:
        if (option.custom)
            return option.custom(option, trimmed);
        break;
    case OptionKind::Number:
        return checkNumber(option, trimmed);
    case OptionKind::Folder:
        return checkFolder(option, trimmed);
    case OptionKind::Address:
        return checkAddress(option, trimmed);
    }
    return refused(QStringLiteral("Opzione %1: tipo sconosciuto").arg(option.name));
}

QString shownValue(const OptionDef& option, const QString& value) {
    return option.writeOnly && !value.isEmpty() ? kWriteOnlyMask : value;
}

} // namespace kv::settings
