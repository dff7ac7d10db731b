// The action subcommands: action (the rules that run a program or send an
// e-mail when something happens) and mail (a test message).
#include "access/OptionsTable.h"
#include "actions/ActionRulesTable.h"
#include "actions/MailMessage.h"
#include "actions/SmtpClient.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kv::cli {

namespace {

const QString kRun = QStringLiteral("run");
const QString kMail = QStringLiteral("mail");
const QString kUser = QStringLiteral("user");
const QString kPath = QStringLiteral("path");
const QString kJson = QStringLiteral("json");

const QString kActionUsage = QStringLiteral(
    "Uso: kestrova action add EVENTO (--run \"PROGRAMMA ARGOMENTI\" | --mail INDIRIZZI) "
    "[--user LOGIN|*] [--path PERCORSO], kestrova action list|del ID|on ID|off ID");

std::optional<qint64> ruleId(const QString& text) {
    bool ok = false;
    const qint64 id = text.toLongLong(&ok);
    if (!ok || id <= 0)
        return std::nullopt;
    return id;
}

int actionAdd(CliContext& c, const QString& event) {
    const bool run = c.args.values.contains(kRun);
    const bool mail = c.args.values.contains(kMail);
    if (run == mail)
        return usage(c, QStringLiteral("Indicare --run oppure --mail (uno dei due)"));
    actions::ActionRule rule;
    rule.event = event;
    rule.user = c.args.values.value(kUser, QStringLiteral("*"));
    rule.path = c.args.value(kPath);
    rule.kind = run ? actions::ActionKind::Run : actions::ActionKind::Mail;
    rule.target = c.args.value(run ? kRun : kMail);
    const auto added = actions::ActionRulesTable(c.db).add(rule);
    if (const QString* why = std::get_if<QString>(&added))
        return refuse(c, *why);
    return done(c, QString::number(std::get<qint64>(added)));
}

int actionList(CliContext& c) {
    const actions::RuleList list = actions::ActionRulesTable(c.db).read();
    if (!list.error.isEmpty())
        return refuse(c, list.error);
    if (c.json()) {
        QJsonArray array;
        for (const actions::ActionRule& rule : list.rules) {
            QJsonObject object{{QStringLiteral("id"), rule.id},
                               {QStringLiteral("event"), rule.event},
                               {QStringLiteral("user"), rule.user},
                               {QStringLiteral("path"), rule.path},
                               {QStringLiteral("enabled"), rule.enabled}};
            object.insert(actions::kindName(rule.kind), rule.target);
            array.append(object);
        }
        c.io.out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return kDone;
    }
    CliTable table{{QStringLiteral("id"), QStringLiteral("evento"), QStringLiteral("account"),
                    QStringLiteral("percorso"), QStringLiteral("attiva"), QStringLiteral("azione")},
                   {}};
    for (const actions::ActionRule& rule : list.rules)
        table.rows << QStringList{QString::number(rule.id),
                                  rule.event,
                                  rule.user,
                                  rule.path.isEmpty() ? QStringLiteral("*") : rule.path,
                                  rule.enabled ? QStringLiteral("sì") : QStringLiteral("no"),
                                  actions::kindName(rule.kind) + QLatin1Char(' ') + rule.target};
    printTable(c.io.out, table, false);
    return kDone;
}

int actionChange(CliContext& c, const QString& verb, const QString& idText) {
    const auto id = ruleId(idText);
    if (!id)
        return refuse(c, QStringLiteral("Numero di azione non valido: \"%1\"").arg(idText));
    actions::ActionRulesTable table(c.db);
    const std::optional<QString> refusal =
        verb == QLatin1String("del") ? table.remove(*id) : table.setEnabled(*id, verb == "on");
    if (refusal)
        return refuse(c, *refusal);
    if (verb == QLatin1String("del"))
        return done(c, QStringLiteral("Azione %1 eliminata").arg(*id));
    return done(c, QStringLiteral("Azione %1 %2")
                       .arg(*id)
                       .arg(verb == QLatin1String("on") ? QStringLiteral("attivata")
                                                        : QStringLiteral("disattivata")));
}

} // namespace

int actionCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {kRun, kMail, kUser, kPath}, {kJson});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QStringList& w = c.args.words;
    const QString verb = w.value(0);
    const bool hasRuleOptions = !c.args.values.isEmpty();
    if (verb == QLatin1String("add") && w.size() == 2)
        return actionAdd(c, w[1]);
    if (hasRuleOptions)
        return usage(c, kActionUsage);
    if (verb == QLatin1String("list") && w.size() == 1)
        return actionList(c);
    if ((verb == QLatin1String("del") || verb == QLatin1String("on") ||
         verb == QLatin1String("off")) &&
        w.size() == 2)
        return actionChange(c, verb, w[1]);
    return usage(c, kActionUsage);
}

int mailCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {}, {});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QStringList& w = c.args.words;
    if (w.size() != 2 || w[0] != QLatin1String("test"))
        return usage(c, QStringLiteral("Uso: kestrova mail test INDIRIZZO"));
    if (!actions::isMailAddress(w[1]))
        return refuse(c, QStringLiteral("Indirizzo e-mail non valido: \"%1\"").arg(w[1]));
    const settings::OptionSet options = access::OptionsTable(c.db).current();
    for (const QString& error : options.errors)
        c.io.err << error << Qt::endl;
    const actions::MailSettings mail = actions::mailSettings(options, c.dataFolder);
    if (const auto why = actions::checkMailSettings(mail))
        return refuse(c, *why);
    const QString subject = QStringLiteral("Kestrova Vellim: e-mail di prova");
    const QString body =
        QStringLiteral("Questa è un'e-mail di prova di Kestrova Vellim: il server di posta %1 "
                       "accetta i messaggi del programma.\n")
            .arg(mail.url());
    const actions::SmtpResult result = actions::sendMail(
        mail, {w[1]},
        actions::composeMessage(mail.from, {w[1]}, subject, body, QDateTime::currentDateTimeUtc()));
    if (!result.ok)
        return refuse(c, QStringLiteral("E-mail di prova non inviata: %1").arg(result.error));
    return done(c, QStringLiteral("E-mail di prova inviata a %1. Risposta del server: %2")
                       .arg(w[1], result.answer));
}

} // namespace kv::cli
