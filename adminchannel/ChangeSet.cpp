// Applying a copy's changes to accounts.dat, refused whole on any doubt.
#include "adminchannel/ChangeSet.h"

#include "access/AccountKeys.h"
#include "access/AccountLimitsTable.h"
#include "access/AccountSchema.h"
#include "access/MirrorDatabase.h"
#include "access/OptionsTable.h"
#include "access/TableRows.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

namespace kv {

namespace {

using access::quotedName;

const QString kInvalid = QStringLiteral("Modifica non valida: %1");

// The column that is the rowid itself, where a table has one.
QString rowidColumn(const QString& table) {
    if (table == QLatin1String("users"))
        return QStringLiteral("ID");
    if (table == QLatin1String("actions"))
        return QStringLiteral("id");
    if (table == QLatin1String("account_limits"))
        return QStringLiteral("account");
    return {};
}

// Tables a file gains with their first row.
std::optional<QString> ensureTable(QSqlDatabase& db, const QString& table) {
    if (table == QLatin1String("account_limits"))
        return access::AccountLimitsTable::ensure(db);
    if (table == QLatin1String("actions")) {
        if (const auto error = access::ensureActionsTable(db))
            return error;
        return access::ensureActionTriggers(db);
    }
    if (table == QLatin1String("account_keys") && access::tableColumns(db, table).isEmpty()) {
        QSqlQuery query(db);
        for (const QString& statement : access::AccountKeys::tableStatements()) {
            if (!query.exec(statement))
                return query.lastError().text();
        }
    }
    return std::nullopt;
}

// Whether `row` holds every value `wanted` names (secrets compared masked).
bool holds(const QString& table, const QJsonObject& row, const QJsonObject& wanted) {
    const QJsonObject masked = access::maskedRow(table, row);
    for (auto it = wanted.constBegin(); it != wanted.constEnd(); ++it) {
        if (masked.value(it.key()) != it.value())
            return false;
    }
    return true;
}

std::optional<QString> failed(const QSqlQuery& query) {
    return QStringLiteral("Modifica non salvata: %1").arg(query.lastError().text());
}

std::optional<QString> exec(QSqlDatabase& db, const QString& sql, const QVariantList& values) {
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        return failed(query);
    return std::nullopt;
}

class Applier {
public:
    Applier(QSqlDatabase& db, const ChangeRules& rules) : db_(db), rules_(rules) {}

    std::optional<QString> apply(const QJsonObject& change);

private:
    std::optional<QString> remove(const QString& table, qint64 rowid,
                                  const std::optional<QJsonObject>& current,
                                  const QJsonObject& before);
    std::optional<QString> insert(const QString& table, qint64 rowid,
                                  const std::optional<QJsonObject>& current, QJsonObject after);
    std::optional<QString> update(const QString& table, qint64 rowid,
                                  const std::optional<QJsonObject>& current,
                                  const QJsonObject& before, const QJsonObject& after);

    QSqlDatabase& db_;
    const ChangeRules& rules_;
};

std::optional<QString> Applier::apply(const QJsonObject& change) {
    const QString table = change.value(QStringLiteral("table")).toString();
    const QJsonValue rowidValue = change.value(QStringLiteral("rowid"));
    const QJsonValue before = change.value(QStringLiteral("before"));
    const QJsonValue after = change.value(QStringLiteral("after"));
    if (!access::mirroredTables().contains(table))
        return kInvalid.arg(QStringLiteral("tabella \"%1\"").arg(table.left(60)));
    const qint64 rowid = rowidValue.toInteger(-1);
    if (!rowidValue.isDouble() || rowid < 0 || double(rowid) != rowidValue.toDouble())
        return kInvalid.arg(QStringLiteral("numero di riga"));
    if (!(before.isObject() || before.isNull()) || !(after.isObject() || after.isNull()) ||
        (before.isNull() && after.isNull()))
        return kInvalid.arg(QStringLiteral("riga di %1").arg(table));
    if ((before.isNull() || after.isNull()) &&
        (table == QLatin1String("settings") || table == QLatin1String("anonymous")))
        return kInvalid.arg(QStringLiteral("la tabella %1 ha una riga sola").arg(table));
    if (!after.isNull())
        if (const auto error = ensureTable(db_, table))
            return QStringLiteral("Modifica non salvata: %1").arg(*error);
    const QStringList columns = access::tableColumns(db_, table);
    for (const QJsonValue& row : {before, after}) {
        const QJsonObject object = row.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (!columns.contains(it.key()))
                return kInvalid.arg(
                    QStringLiteral("colonna \"%1\" di %2").arg(it.key().left(60), table));
            if (it.value().isArray() || it.value().isObject())
                return kInvalid.arg(QStringLiteral("valore di %1.%2").arg(table, it.key()));
        }
    }
    const std::optional<QJsonObject> current = access::readRow(db_, table, rowid, columns);
    if (after.isNull())
        return remove(table, rowid, current, before.toObject());
    if (before.isNull())
        return insert(table, rowid, current, after.toObject());
    return update(table, rowid, current, before.toObject(), after.toObject());
}

std::optional<QString> Applier::remove(const QString& table, qint64 rowid,
                                       const std::optional<QJsonObject>& current,
                                       const QJsonObject& before) {
    if (!current)
        return std::nullopt; // gone already (a trigger, or another administrator)
    if (!holds(table, *current, before))
        return changedMeanwhileMessage();
    if (const auto problem = deleteProblem(table, *current, rules_))
        return problem;
    return exec(db_, QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quotedName(table)),
                {rowid});
}

std::optional<QString> Applier::insert(const QString& table, qint64 rowid,
                                       const std::optional<QJsonObject>& current,
                                       QJsonObject after) {
    const QString alias = rowidColumn(table);
    if (!alias.isEmpty() && after.contains(alias) && after.value(alias).toInteger(-1) != rowid)
        return kInvalid.arg(QStringLiteral("numero di riga"));
    if (current)
        return holds(table, *current, after) ? std::nullopt
                                             : std::optional(changedMeanwhileMessage());
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (access::isMask(it.value()) && access::isSecret(table, it.key(), after))
            return changedMeanwhileMessage(); // a mask with no value behind it
    }
    if (const auto problem = rowProblem(db_, table, rowid, std::nullopt, after, rules_))
        return problem;
    after.remove(alias);
    QStringList names{QStringLiteral("rowid")};
    QVariantList values{rowid};
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        names << quotedName(it.key());
        values << access::valueOfJson(it.value());
    }
    return exec(db_,
                QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(quotedName(table), names.join(u','),
                         QStringList(names.size(), QStringLiteral("?")).join(u',')),
                values);
}

std::optional<QString> Applier::update(const QString& table, qint64 rowid,
                                       const std::optional<QJsonObject>& current,
                                       const QJsonObject& before, const QJsonObject& after) {
    if (!current)
        return changedMeanwhileMessage();
    // A mask means the secret stays as it is.
    QJsonObject wanted = *current;
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (!(access::isMask(it.value()) && access::isSecret(table, it.key(), *current)))
            wanted.insert(it.key(), it.value());
    }
    const QString alias = rowidColumn(table);
    if (!alias.isEmpty() && wanted.value(alias) != current->value(alias))
        return kInvalid.arg(QStringLiteral("numero di riga"));
    if (!holds(table, *current, before))
        return holds(table, *current, after) ? std::nullopt // made already by a trigger
                                             : std::optional(changedMeanwhileMessage());
    if (wanted == *current)
        return std::nullopt;
    if (const auto problem = rowProblem(db_, table, rowid, current, wanted, rules_))
        return problem;
    QStringList assignments;
    QVariantList values;
    for (auto it = wanted.constBegin(); it != wanted.constEnd(); ++it) {
        if (it.value() != current->value(it.key())) {
            assignments << quotedName(it.key()) + QStringLiteral(" = ?");
            values << access::valueOfJson(it.value());
        }
    }
    if (assignments.isEmpty())
        return std::nullopt;
    values << rowid;
    return exec(db_,
                QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                    .arg(quotedName(table), assignments.join(QStringLiteral(", "))),
                values);
}

QStringList optionErrors(const QSqlDatabase& db) {
    return access::OptionsTable(db).current().errors;
}

} // namespace

QString changedMeanwhileMessage() {
    return QStringLiteral("I dati sul server sono cambiati nel frattempo: riprovare");
}

std::optional<QString> applyChangeSet(QSqlDatabase& db, const QJsonArray& changes,
                                      const ChangeRules& rules) {
    const QStringList knownErrors = optionErrors(db);
    Applier applier(db, rules);
    for (const QJsonValue& change : changes) {
        if (!change.isObject())
            return kInvalid.arg(QStringLiteral("non è un oggetto"));
        if (const auto error = applier.apply(change.toObject()))
            return error;
    }
    // Rules between options (a minimum above a maximum), as setOption judges them.
    for (const QString& error : optionErrors(db)) {
        if (!knownErrors.contains(error))
            return error;
    }
    return std::nullopt;
}

} // namespace kv
