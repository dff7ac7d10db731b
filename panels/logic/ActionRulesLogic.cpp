// The actions group's rules, mail options and test e-mail.
#include "panels/logic/ActionRulesLogic.h"

#include "actions/MailMessage.h"
#include "panels/logic/OptionEdit.h"

#include <QFileInfo>
#include <QMap>

namespace kv::admin {

ActionRulesLogic::ActionRulesLogic(const QSqlDatabase& db, access::OptionsTable& options)
    : table_(db), options_(options), dataFolder_(QFileInfo(db.databaseName()).absolutePath()) {}

const QStringList& ActionRulesLogic::columns() {
    static const QStringList captions = {QStringLiteral("N."),      QStringLiteral("Evento"),
                                         QStringLiteral("Account"), QStringLiteral("Percorso"),
                                         QStringLiteral("Azione"),  QStringLiteral("Attiva")};
    return captions;
}

actions::RuleList ActionRulesLogic::rules() const {
    return table_.read();
}

QStringList ActionRulesLogic::row(const actions::ActionRule& rule) {
    const QString action = rule.kind == actions::ActionKind::Run
                               ? QStringLiteral("Avvia: %1").arg(rule.target)
                               : QStringLiteral("E-mail a: %1").arg(rule.target);
    return {QString::number(rule.id),
            eventName(rule.event),
            rule.user,
            rule.path.isEmpty() ? QStringLiteral("(tutti)") : rule.path,
            action,
            rule.enabled ? QStringLiteral("Sì") : QStringLiteral("No")};
}

QString ActionRulesLogic::eventName(const QString& event) {
    static const QMap<QString, QString> names = {
        {QStringLiteral("upload"), QStringLiteral("caricamento")},
        {QStringLiteral("download"), QStringLiteral("scaricamento")},
        {QStringLiteral("delete"), QStringLiteral("cancellazione")},
        {QStringLiteral("rename"), QStringLiteral("rinomina")},
        {QStringLiteral("mkdir"), QStringLiteral("nuova cartella")},
        {QStringLiteral("login-failed"), QStringLiteral("accesso rifiutato")},
        {QStringLiteral("ban"), QStringLiteral("blocco")},
        {QStringLiteral("quota-warning"), QStringLiteral("avviso di quota")},
        {QStringLiteral("account-expired"), QStringLiteral("scadenza account")},
        {QStringLiteral("admin-login"), QStringLiteral("amministrazione remota")},
        {QStringLiteral("certificate-renewed"), QStringLiteral("certificato rinnovato")},
        {QStringLiteral("certificate-failed"), QStringLiteral("certificato non rinnovato")},
    };
    // A word of a later version of the program shows as it is stored.
    return names.value(event, event);
}

QString ActionRulesLogic::eventChoice(const QString& event) {
    return QStringLiteral("%1 (%2)").arg(eventName(event), actions::eventCaption(event).toLower());
}

std::variant<qint64, QString> ActionRulesLogic::add(const actions::ActionRule& rule) {
    return table_.add(rule);
}

std::optional<QString> ActionRulesLogic::update(const actions::ActionRule& rule) {
    return table_.update(rule);
}

std::optional<QString> ActionRulesLogic::remove(qint64 id) {
    return table_.remove(id);
}

std::optional<QString> ActionRulesLogic::setEnabled(qint64 id, bool enabled) {
    return table_.setEnabled(id, enabled);
}

QString ActionRulesLogic::deleteQuestion(const actions::ActionRule& rule) {
    return QStringLiteral("Eliminare l'azione %1 (%2, %3)?")
        .arg(rule.id)
        .arg(actions::eventCaption(rule.event), row(rule).at(4));
}

const QStringList& ActionRulesLogic::options() {
    using namespace settings::option;
    static const QStringList names = {kMailServer,       kMailSecurity,         kMailCaFile,
                                      kMailUser,         kMailPassword,         kMailFrom,
                                      kMailBatchSeconds, kActionTimeoutSeconds, kActionMaxRunning};
    return names;
}

QString ActionRulesLogic::caption(const QString& option) const {
    const settings::OptionDef* def = options_.catalog().find(option);
    return def ? def->caption : option;
}

QString ActionRulesLogic::shown(const QString& option) const {
    const settings::OptionDef* def = options_.catalog().find(option);
    if (def && def->writeOnly)
        return QString();
    return shownOption(options_, option);
}

bool ActionRulesLogic::isSet(const QString& option) const {
    return !options_.value(option).isEmpty();
}

std::optional<QString> ActionRulesLogic::change(const QString& option, const QString& text) {
    const settings::OptionDef* def = options_.catalog().find(option);
    if (def && def->writeOnly && text.isEmpty())
        return std::nullopt;
    return changeOption(options_, option, text);
}

std::optional<QString>
ActionRulesLogic::sendTestMail(const QString& address, actions::MailSender& sender,
                               std::function<void(const QString&, bool)> done) const {
    if (!actions::isMailAddress(address))
        return QStringLiteral("Indirizzo e-mail non valido: \"%1\"").arg(address);
    const settings::OptionSet current = options_.current();
    if (!current.errors.isEmpty())
        return current.errors.first();
    const actions::MailSettings mail = actions::mailSettings(current, dataFolder_);
    if (const auto why = actions::checkMailSettings(mail))
        return why;
    const QString subject = QStringLiteral("Kestrova Vellim: e-mail di prova");
    const QByteArray message =
        actions::composeMessage(mail.from, {address}, subject,
                                QStringLiteral("Questa è un'e-mail di prova di Kestrova Vellim.\n"),
                                QDateTime::currentDateTimeUtc());
    sender.send(mail, {address}, message, [address, done](const actions::SmtpResult& result) {
        if (result.ok)
            done(QStringLiteral("E-mail di prova inviata a %1.\nRisposta del server: %2")
                     .arg(address, result.answer),
                 true);
        else
            done(QStringLiteral("E-mail di prova non inviata: %1").arg(result.error), false);
    });
    return std::nullopt;
}

} // namespace kv::admin
