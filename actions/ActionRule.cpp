#include "actions/ActionRule.h"

#include "actions/PathPattern.h"

#include <QProcess>
#include <QRegularExpression>

namespace kv::actions {

const QStringList& actionEventNames() {
    static const QStringList names = {
        QStringLiteral("upload"),
        QStringLiteral("download"),
        QStringLiteral("delete"),
        QStringLiteral("rename"),
        QStringLiteral("mkdir"),
        QStringLiteral("login-failed"),
        QStringLiteral("ban"),
        QStringLiteral("quota-warning"),
        QStringLiteral("account-expired"),
        QStringLiteral("admin-login"),
        QStringLiteral("certificate-renewed"),
        QStringLiteral("certificate-failed"),
    };
    return names;
}

QString eventCaption(const QString& event) {
    static const QMap<QString, QString> captions = {
        {QStringLiteral("upload"), QStringLiteral("File ricevuto")},
        {QStringLiteral("download"), QStringLiteral("File scaricato")},
        {QStringLiteral("delete"), QStringLiteral("File cancellato")},
        {QStringLiteral("rename"), QStringLiteral("File rinominato")},
        {QStringLiteral("mkdir"), QStringLiteral("Cartella creata")},
        {QStringLiteral("login-failed"), QStringLiteral("Accesso fallito")},
        {QStringLiteral("ban"), QStringLiteral("Indirizzo bloccato")},
        {QStringLiteral("quota-warning"), QStringLiteral("Quota quasi esaurita")},
        {QStringLiteral("account-expired"), QStringLiteral("Account scaduto")},
        {QStringLiteral("admin-login"), QStringLiteral("Accesso all'amministrazione remota")},
        {QStringLiteral("certificate-renewed"), QStringLiteral("Certificato automatico ottenuto")},
        {QStringLiteral("certificate-failed"),
         QStringLiteral("Certificato automatico non ottenuto o in scadenza")},
    };
    return captions.value(event, event);
}

QString kindName(ActionKind kind) {
    return kind == ActionKind::Run ? QStringLiteral("run") : QStringLiteral("mail");
}

std::optional<ActionKind> kindFromName(const QString& name) {
    if (name == QLatin1String("run"))
        return ActionKind::Run;
    if (name == QLatin1String("mail"))
        return ActionKind::Mail;
    return std::nullopt;
}

QStringList commandWords(const QString& commandLine) {
    return QProcess::splitCommand(commandLine);
}

QStringList mailAddresses(const QString& target) {
    QStringList addresses;
    for (const QString& part : target.split(QLatin1Char(',')))
        addresses << part.trimmed();
    return addresses;
}

bool isMailAddress(const QString& address) {
    // One @ with a local part and a domain holding a dot-free or dotted name;
    // no spaces, brackets or separators that would change the envelope.
    static const QRegularExpression form(QStringLiteral(
        "^[A-Za-z0-9.!#$%&'*+/=?^_`{|}~-]+@[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?$"));
    return address.size() <= 254 && form.match(address).hasMatch();
}

ActionRule normalizedRule(ActionRule rule) {
    rule.event = rule.event.trimmed().toLower();
    rule.user = rule.user.trimmed();
    if (rule.user.isEmpty())
        rule.user = QStringLiteral("*");
    rule.path = rule.path.trimmed();
    if (rule.path.isNull())
        rule.path = QLatin1String(""); // stored as empty text, never as null
    rule.target = rule.target.trimmed();
    if (rule.kind == ActionKind::Mail)
        rule.target = mailAddresses(rule.target).join(QLatin1Char(','));
    return rule;
}

std::optional<QString> checkRule(const ActionRule& rule) {
    if (!actionEventNames().contains(rule.event))
        return QStringLiteral("Evento sconosciuto: \"%1\" (%2)")
            .arg(rule.event, actionEventNames().join(QStringLiteral(", ")));
    for (const QChar c : rule.user) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return QStringLiteral("Account non valido: \"%1\" (un login o *)").arg(rule.user);
    }
    if (!rule.path.isEmpty()) {
        QString error;
        if (!PathPattern::parse(rule.path, &error))
            return error;
    }
    if (rule.kind == ActionKind::Run) {
        for (const QChar c : rule.target) {
            if (c.category() == QChar::Other_Control)
                return QStringLiteral("Il programma contiene caratteri di controllo");
        }
        if (commandWords(rule.target).isEmpty())
            return QStringLiteral("Manca il programma da avviare");
        return std::nullopt;
    }
    if (rule.target.isEmpty())
        return QStringLiteral("Manca l'indirizzo e-mail");
    for (const QString& address : mailAddresses(rule.target)) {
        if (!isMailAddress(address))
            return QStringLiteral("Indirizzo e-mail non valido: \"%1\"").arg(address);
    }
    return std::nullopt;
}

bool ruleMatches(const ActionRule& rule, const ActionEvent& event) {
    if (!rule.enabled || rule.event != event.name)
        return false;
    if (rule.user != QLatin1String("*") && rule.user.compare(event.user, Qt::CaseInsensitive) != 0)
        return false;
    if (rule.path.isEmpty())
        return true;
    const auto pattern = PathPattern::parse(rule.path);
    return pattern && pattern->matches(event.clientPath);
}

} // namespace kv::actions
