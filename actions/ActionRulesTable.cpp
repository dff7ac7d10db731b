#include "actions/ActionRulesTable.h"

#include "access/AccountSchema.h"
#include "access/FileStamp.h"
#include "access/WriteTransaction.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kv::actions {

namespace {

QString notFound(qint64 id) {
    return QStringLiteral("Nessuna azione con numero %1").arg(id);
}

std::optional<QString> exec(QSqlQuery& query) {
    if (!query.exec())
        return QStringLiteral("Modifica non salvata: %1").arg(query.lastError().text());
    return std::nullopt;
}

} // namespace

struct ActionRulesTable::Reading {
    std::shared_ptr<QSqlQuery> reader;
    std::optional<RuleList> kept;
    access::FileStamp keptStamp;
};

RuleList ActionRulesTable::read() const {
    if (!reading_)
        reading_ = std::make_shared<Reading>();
    Reading& reading = *reading_;
    // Stamped before reading: a change made meanwhile is seen the next time.
    const auto stamp = access::FileStamp::of(db_.databaseName());
    if (reading.kept && reading.keptStamp.provesUnchanged(stamp))
        return *reading.kept;
    RuleList list = readTable(reading);
    reading.kept.reset();
    if (list.error.isEmpty()) {
        reading.kept = list;
        reading.keptStamp = stamp;
    }
    return list;
}

RuleList ActionRulesTable::readTable(Reading& reading) const {
    RuleList list;
    std::shared_ptr<QSqlQuery>& reader = reading.reader;
    // A statement that fails again (the connection reopened, say) is made afresh once.
    if (!reader || !reader->exec()) {
        reader = std::make_shared<QSqlQuery>(db_);
        reader->setForwardOnly(true);
        if (!reader->prepare(QStringLiteral("SELECT id, event, user, path, kind, target, "
                                            "enabled FROM actions ORDER BY id")) ||
            !reader->exec()) {
            const QString error = reader->lastError().text();
            reader.reset();
            // A file opened read-only before the table existed has none: no rules.
            if (!error.contains(QLatin1String("no such table")))
                list.error =
                    QStringLiteral("la tabella actions di accounts.dat non è leggibile (%1)")
                        .arg(error);
            return list;
        }
    }
    QSqlQuery& query = *reader;
    while (query.next()) {
        ActionRule rule;
        rule.id = query.value(0).toLongLong();
        rule.event = query.value(1).toString();
        rule.user = query.value(2).toString();
        rule.path = query.value(3).toString();
        const auto kind = kindFromName(query.value(4).toString());
        rule.target = query.value(5).toString();
        rule.enabled = query.value(6).toBool();
        // A row another program wrote wrong is kept but never acted on.
        if (kind)
            rule.kind = *kind;
        if (!kind || checkRule(rule).has_value())
            rule.enabled = false;
        list.rules << rule;
    }
    return list;
}

std::variant<qint64, QString> ActionRulesTable::add(const ActionRule& given) {
    const ActionRule rule = normalizedRule(given);
    if (const auto why = checkRule(rule))
        return *why;
    qint64 id = 0;
    const auto error = access::inWriteTransaction(db_, [&]() -> std::optional<QString> {
        if (const auto missing = access::ensureActionsTable(db_))
            return QStringLiteral("Modifica non salvata: %1").arg(*missing);
        QSqlQuery query(db_);
        query.prepare(QStringLiteral("INSERT INTO actions (event, user, path, kind, target, "
                                     "enabled) VALUES (?, ?, ?, ?, ?, ?)"));
        for (const QVariant& value :
             QVariantList{rule.event, rule.user, rule.path, kindName(rule.kind), rule.target,
                          int(rule.enabled)})
            query.addBindValue(value);
        if (auto failed = exec(query))
            return failed;
        id = query.lastInsertId().toLongLong();
        return std::nullopt;
    });
    if (error)
        return *error;
    return id;
}

std::optional<QString> ActionRulesTable::changeOne(const QString& sql, const QVariantList& params,
                                                   qint64 id) {
    return access::inWriteTransaction(db_, [&]() -> std::optional<QString> {
        QSqlQuery query(db_);
        query.prepare(sql);
        for (const QVariant& value : params)
            query.addBindValue(value);
        if (auto failed = exec(query))
            return failed;
        if (query.numRowsAffected() != 1)
            return notFound(id);
        return std::nullopt;
    });
}

std::optional<QString> ActionRulesTable::update(const ActionRule& given) {
    const ActionRule rule = normalizedRule(given);
    if (const auto why = checkRule(rule))
        return why;
    return changeOne(QStringLiteral("UPDATE actions SET event = ?, user = ?, path = ?, kind = ?, "
                                    "target = ?, enabled = ? WHERE id = ?"),
                     {rule.event, rule.user, rule.path, kindName(rule.kind), rule.target,
                      int(rule.enabled), rule.id},
                     rule.id);
}

std::optional<QString> ActionRulesTable::remove(qint64 id) {
    return changeOne(QStringLiteral("DELETE FROM actions WHERE id = ?"), {id}, id);
}

std::optional<QString> ActionRulesTable::setEnabled(qint64 id, bool enabled) {
    return changeOne(QStringLiteral("UPDATE actions SET enabled = ? WHERE id = ?"),
                     {int(enabled), id}, id);
}

} // namespace kv::actions
