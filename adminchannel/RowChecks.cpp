// One changed row of accounts.dat judged as the panels judge it.
#include "adminchannel/RowChecks.h"

#include "access/AccountLimitFields.h"
#include "access/AccountService.h"
#include "access/EntryChecks.h"
#include "access/PasswordHash.h"
#include "actions/ActionRule.h"
#include "settings/OptionCatalog.h"
#include "sftp/PublicKeyLine.h"

#include <QSqlQuery>

namespace kv {

namespace {

using settings::OptionStore;

const QStringList kSwitchColumns = {QStringLiteral("enabled"), QStringLiteral("read"),
                                    QStringLiteral("write"),   QStringLiteral("delete"),
                                    QStringLiteral("browse"),  QStringLiteral("manage")};

// A value as the checks read typed text (a whole number without a fraction).
QString text(const QJsonValue& value) {
    if (value.isDouble()) {
        const qint64 whole = value.toInteger();
        return double(whole) == value.toDouble() ? QString::number(whole)
                                                 : QString::number(value.toDouble(), 'g', 17);
    }
    return value.toString();
}

bool changed(const std::optional<QJsonObject>& current, const QJsonObject& after,
             const QString& column) {
    return after.contains(column) && (!current || current->value(column) != after.value(column));
}

std::optional<QString> switchProblem(const QJsonObject& after, const QString& column) {
    const QJsonValue value = after.value(column);
    if (value.isNull() || value.isBool() ||
        (value.isDouble() && (value.toDouble() == 0 || value.toDouble() == 1)))
        return std::nullopt;
    return QStringLiteral("Valore non valido per %1: \"%2\" (0 o 1)")
        .arg(column, text(value).left(60));
}

bool accountExists(const QSqlDatabase& db, qint64 id) {
    if (id == 0)
        return true; // the anonymous account
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT 1 FROM users WHERE ID = ?"));
    query.addBindValue(id);
    return query.exec() && query.next();
}

QString missingNumber(qint64 id) {
    return QStringLiteral("L'account con numero %1 non esiste").arg(id);
}

std::optional<QString> rootChange(const QJsonObject& after, const access::RootOwner& owner,
                                  const ChangeRules& rules) {
    const QString root = text(after.value(QStringLiteral("rootdir")));
    if (const auto problem = access::rootProblem(root))
        return problem;
    if (access::rootNeedsWholeDiskChoice(root, owner) && !rules.wholeDisk)
        return access::wholeDiskRefusal(owner);
    return std::nullopt;
}

// An account's or the anonymous account's root and rights, where they changed.
std::optional<QString> rootAndSwitchesProblem(const std::optional<QJsonObject>& current,
                                              const QJsonObject& after,
                                              const access::RootOwner& owner,
                                              const ChangeRules& rules) {
    if (changed(current, after, QStringLiteral("rootdir")))
        if (const auto problem = rootChange(after, owner, rules))
            return problem;
    for (const QString& column : kSwitchColumns) {
        if (changed(current, after, column))
            if (const auto problem = switchProblem(after, column))
                return problem;
    }
    return std::nullopt;
}

std::optional<QString> accountProblem(const QSqlDatabase& db, qint64 rowid,
                                      const std::optional<QJsonObject>& current,
                                      const QJsonObject& after, const ChangeRules& rules) {
    const QString login = text(after.value(QStringLiteral("login")));
    if (changed(current, after, QStringLiteral("login")))
        if (const auto problem = access::loginProblem(db, login, rowid))
            return problem;
    if (changed(current, after, QStringLiteral("password"))) {
        const QString password = text(after.value(QStringLiteral("password")));
        if (!password.isEmpty() && !access::isVerifiableHash(password))
            return QStringLiteral("La password di %1 non è un hash valido (yescrypt, SHA-512 o "
                                  "bcrypt)")
                .arg(login);
    }
    return rootAndSwitchesProblem(current, after, access::accountRootOwner(login), rules);
}

std::optional<QString> settingsProblem(const std::optional<QJsonObject>& current,
                                       QJsonObject& after, const ChangeRules& rules) {
    for (auto it = after.begin(); it != after.end(); ++it) {
        const QString column = it.key();
        if (!changed(current, after, column))
            continue;
        if (column == settings::setting::kIpOk || column == settings::setting::kIpKo) {
            if (const auto problem = switchProblem(after, column))
                return problem;
            continue;
        }
        const settings::OptionCheck check =
            settings::optionCatalog().check(column, text(it.value()), OptionStore::SettingsRow);
        if (!check.ok())
            return check.error;
        if (!it.value().isNull())
            it.value() = check.value;
        if (column == settings::setting::kRootDir)
            if (const auto problem = rootChange(after, access::defaultRootOwner(), rules))
                return problem;
    }
    return std::nullopt;
}

bool namesRemoteActions(const QJsonObject& row) {
    return row.value(QStringLiteral("name")).toString() == settings::option::kAdminRemoteActions;
}

std::optional<QString> optionProblem(const std::optional<QJsonObject>& current, QJsonObject& after,
                                     const ChangeRules& rules) {
    if (rules.remote && (namesRemoteActions(after) || (current && namesRemoteActions(*current))))
        return QStringLiteral("L'opzione %1 si può cambiare solo sul server")
            .arg(settings::option::kAdminRemoteActions);
    const QString name = text(after.value(QStringLiteral("name")));
    const settings::OptionCheck check =
        settings::optionCatalog().check(name, text(after.value(QStringLiteral("value"))));
    if (!check.ok())
        return check.error;
    after.insert(QStringLiteral("value"), check.value);
    return std::nullopt;
}

std::optional<QString> limitsProblem(const QSqlDatabase& db, qint64 rowid,
                                     const std::optional<QJsonObject>& current,
                                     const QJsonObject& after) {
    if (!current && !accountExists(db, rowid))
        return missingNumber(rowid);
    for (const access::LimitFieldDef& def : access::limitFields()) {
        if (!changed(current, after, def.column))
            continue;
        const QJsonValue value = after.value(def.column);
        if (def.kind != access::LimitKind::Date && value.isDouble() &&
            value.toDouble() == double(value.toInteger())) {
            if (const auto problem = access::limitValueProblem(def, value.toInteger()))
                return problem;
            continue;
        }
        // Text as the command line reads it (a date, "10G", a refusal).
        const access::LimitText read = access::readLimitText(def, text(value));
        if (!read.ok())
            return read.error;
    }
    return std::nullopt;
}

std::optional<QString> keyProblem(const QSqlDatabase& db, QJsonObject& after) {
    const QString login = text(after.value(QStringLiteral("login")));
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT 1 FROM users WHERE login = ?"));
    query.addBindValue(login);
    if (!query.exec() || !query.next())
        return access::missingAccountMessage(login);
    const sftp::PublicKeyParse parse =
        sftp::parsePublicKeyLine(text(after.value(QStringLiteral("key_type"))) + u' ' +
                                 text(after.value(QStringLiteral("key_base64"))));
    if (!parse.key)
        return parse.error;
    after.insert(QStringLiteral("key_type"), parse.key->type);
    after.insert(QStringLiteral("key_base64"), parse.key->base64);
    after.insert(QStringLiteral("fingerprint"), parse.key->fingerprint);
    return std::nullopt;
}

std::optional<actions::ActionRule> ruleOf(const QJsonObject& row) {
    const auto kind = actions::kindFromName(text(row.value(QStringLiteral("kind"))));
    if (!kind)
        return std::nullopt;
    actions::ActionRule rule;
    rule.event = text(row.value(QStringLiteral("event")));
    rule.user = text(row.value(QStringLiteral("user")));
    rule.path = text(row.value(QStringLiteral("path")));
    rule.kind = *kind;
    rule.target = text(row.value(QStringLiteral("target")));
    rule.enabled = row.value(QStringLiteral("enabled")).toInteger() != 0 ||
                   row.value(QStringLiteral("enabled")).toBool();
    return rule;
}

std::optional<QString> ruleProblem(const std::optional<QJsonObject>& current, QJsonObject& after,
                                   const ChangeRules& rules) {
    const auto rule = ruleOf(after);
    if (!rule)
        return QStringLiteral("Tipo di azione sconosciuto: \"%1\" (run, mail)")
            .arg(text(after.value(QStringLiteral("kind"))).left(60));
    const actions::ActionRule normal = actions::normalizedRule(*rule);
    if (const auto problem = actions::checkRule(normal))
        return problem;
    if (rules.remote && !rules.remoteActions && normal.kind == actions::ActionKind::Run) {
        // Adding, changing or enabling one is refused; disabling one is not.
        bool onlyDisabled = current.has_value() && !normal.enabled;
        for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
            if (it.key() != QLatin1String("enabled") && changed(current, after, it.key()))
                onlyDisabled = false;
        }
        if (!onlyDisabled)
            return remoteProgramRuleRefusal();
    }
    after.insert(QStringLiteral("event"), normal.event);
    after.insert(QStringLiteral("user"), normal.user);
    after.insert(QStringLiteral("path"), normal.path);
    after.insert(QStringLiteral("target"), normal.target);
    return std::nullopt;
}

} // namespace

QString remoteProgramRuleRefusal() {
    return QStringLiteral("Da un'amministrazione remota non si possono aggiungere, cambiare o "
                          "abilitare azioni che avviano un programma (opzione %1 del server)")
        .arg(settings::option::kAdminRemoteActions);
}

std::optional<QString> rowProblem(const QSqlDatabase& db, const QString& table, qint64 rowid,
                                  const std::optional<QJsonObject>& current, QJsonObject& after,
                                  const ChangeRules& rules) {
    if (table == QLatin1String("users"))
        return accountProblem(db, rowid, current, after, rules);
    if (table == QLatin1String("anonymous"))
        return rootAndSwitchesProblem(current, after, access::anonymousRootOwner(), rules);
    if (table == QLatin1String("settings"))
        return settingsProblem(current, after, rules);
    if (table == QLatin1String("options"))
        return optionProblem(current, after, rules);
    if (table == settings::setting::kIpOk || table == settings::setting::kIpKo) {
        const QString entry = text(after.value(QStringLiteral("IP")));
        if (const auto problem = access::listEntryProblem(db, table, entry, rowid))
            return problem;
        after.insert(QStringLiteral("IP"), entry.trimmed());
        return std::nullopt;
    }
    if (table == QLatin1String("virtualdirs")) {
        const qint64 owner = after.value(QStringLiteral("user")).toInteger(-1);
        if (!accountExists(db, owner))
            return missingNumber(owner);
        return access::virtualDirProblem(db, owner,
                                         {text(after.value(QStringLiteral("name"))),
                                          text(after.value(QStringLiteral("source"))),
                                          text(after.value(QStringLiteral("destination")))},
                                         current ? rowid : -1);
    }
    if (table == QLatin1String("account_limits"))
        return limitsProblem(db, rowid, current, after);
    if (table == QLatin1String("account_keys"))
        return keyProblem(db, after);
    if (table == QLatin1String("actions"))
        return ruleProblem(current, after, rules);
    return QStringLiteral("Tabella non modificabile: %1").arg(table.left(60));
}

std::optional<QString> deleteProblem(const QString& table, const QJsonObject& current,
                                     const ChangeRules& rules) {
    if (table == QLatin1String("options") && rules.remote && namesRemoteActions(current))
        return QStringLiteral("L'opzione %1 si può cambiare solo sul server")
            .arg(settings::option::kAdminRemoteActions);
    return std::nullopt;
}

} // namespace kv
