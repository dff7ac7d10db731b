#include "actions/PathPattern.h"

namespace kv::actions {

PathPattern::PathPattern(QString text, QRegularExpression expression)
    : text_(std::move(text)), expression_(std::move(expression)) {}

std::optional<PathPattern> PathPattern::parse(const QString& text, QString* error) {
    const auto refuse = [&](const QString& why) -> std::optional<PathPattern> {
        if (error)
            *error = QStringLiteral("Percorso \"%1\" non valido: %2").arg(text, why);
        return std::nullopt;
    };
    if (!text.startsWith(QLatin1Char('/')))
        return refuse(QStringLiteral("deve iniziare con / (es. /scansioni/*.pdf)"));
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return refuse(QStringLiteral("contiene caratteri di controllo"));
    }
    if (text.contains(QLatin1String("***")))
        return refuse(QStringLiteral("usare * o **, non ***"));
    QString regex = QStringLiteral("\\A");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (text.mid(i, 3) == QLatin1String("**/")) {
            regex += QStringLiteral("(?:.*/)?"); // "/**/" also matches "/"
            i += 2;
        } else if (text.mid(i, 2) == QLatin1String("**")) {
            regex += QStringLiteral(".*");
            ++i;
        } else if (c == QLatin1Char('*')) {
            regex += QStringLiteral("[^/]*");
        } else if (c == QLatin1Char('?')) {
            regex += QStringLiteral("[^/]");
        } else {
            regex += QRegularExpression::escape(QString(c));
        }
    }
    regex += QStringLiteral("\\z");
    QRegularExpression expression(regex, QRegularExpression::DotMatchesEverythingOption);
    if (!expression.isValid())
        return refuse(expression.errorString());
    return PathPattern(text, std::move(expression));
}

bool PathPattern::matches(const QString& clientPath) const {
    return expression_.match(clientPath).hasMatch();
}

} // namespace kv::actions
