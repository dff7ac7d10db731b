#pragma once
// The `actions` table of accounts.dat: reading the rules and changing them,
// each change one transaction, every rule checked before it is written so a
// refused one leaves the table as it was. The window and the command line
// both go through here.

#include "actions/ActionRule.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>
#include <optional>
#include <variant>

namespace kv::actions {

struct RuleList {
    QList<ActionRule> rules;
    QString error; // Italian; set when the table could not be read
};

class ActionRulesTable {
public:
    explicit ActionRulesTable(const QSqlDatabase& db) : db_(db) {}

    // Every rule, by id; a file without the table has none.
    RuleList read() const;
    // The new rule's id, or the Italian reason nothing was written.
    std::variant<qint64, QString> add(const ActionRule& rule);
    // Replaces the rule with the same id.
    std::optional<QString> update(const ActionRule& rule);
    std::optional<QString> remove(qint64 id);
    std::optional<QString> setEnabled(qint64 id, bool enabled);

private:
    struct Reading;
    std::optional<QString> changeOne(const QString& sql, const QVariantList& params, qint64 id);
    RuleList readTable(Reading& reading) const;
    QSqlDatabase db_;
    // Rules are asked for on every transfer: the statement is parsed once,
    // and what it read is kept while the file is unchanged. Shared by copies,
    // which live on the same thread.
    mutable std::shared_ptr<Reading> reading_;
};

} // namespace kv::actions
