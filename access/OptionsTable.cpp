// Reads and writes the options table of accounts.dat.
#include "access/OptionsTable.h"

#include "access/AccountSchema.h"
#include "access/WriteTransaction.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kv::access {

namespace {

const QString kTable = QStringLiteral("options");

bool hasTable(const QSqlDatabase& db) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "SELECT count(*) FROM sqlite_master WHERE lower(name) = ? AND type = 'table'"));
    query.addBindValue(kTable);
    return query.exec() && query.next() && query.value(0).toInt() > 0;
}

std::optional<QString> createIfMissing(QSqlDatabase& db) {
    if (hasTable(db))
        return std::nullopt;
    QSqlQuery query(db);
    if (!query.exec(optionsTableStatement()))
        return query.lastError().text();
    return std::nullopt;
}

} // namespace

OptionsTable::OptionsTable(const QSqlDatabase& db, const settings::OptionCatalog& catalog)
    : db_(db), catalog_(catalog) {}

std::optional<QString> OptionsTable::ensureTable(QSqlDatabase& db) {
    return createIfMissing(db);
}

OptionRows OptionsTable::read() const {
    OptionRows result;
    if (!hasTable(db_))
        return result;
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("SELECT name, value FROM options"))) {
        result.error = QStringLiteral("la tabella options di accounts.dat non è leggibile (%1)")
                           .arg(query.lastError().text());
        return result;
    }
    while (query.next())
        result.rows.insert(query.value(0).toString(), query.value(1).toString());
    return result;
}

settings::OptionSet OptionsTable::current() const {
    QMap<QString, QString> rows = read().rows;
    for (auto it = pending_.begin(); it != pending_.end(); ++it)
        rows.insert(it.key(), it.value());
    return catalog_.checkAll(rows);
}

QString OptionsTable::value(const QString& name) const {
    if (pending_.contains(name))
        return pending_.value(name);
    const OptionRows stored = read();
    if (stored.rows.contains(name))
        return stored.rows.value(name);
    const settings::OptionDef* option = catalog_.find(name);
    return option ? option->defaultValue : QString();
}

std::optional<QString> OptionsTable::commit() {
    if (pending_.isEmpty())
        return std::nullopt;
    if (auto error = write(pending_))
        return error;
    pending_.clear();
    return std::nullopt;
}

std::optional<QString>
OptionsTable::inWriteTransaction(const std::function<std::optional<QString>()>& work) {
    return kv::access::inWriteTransaction(db_, [&]() -> std::optional<QString> {
        if (const auto error = createIfMissing(db_))
            return QStringLiteral("Modifica non salvata: %1").arg(*error);
        return work();
    });
}

std::optional<QString> OptionsTable::store(const QMap<QString, QString>& values) {
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO options (name, value) VALUES (?, ?)"));
    for (auto it = values.begin(); it != values.end(); ++it) {
        query.addBindValue(it.key());
        query.addBindValue(it.value());
        if (!query.exec())
            return QStringLiteral("Modifica non salvata: %1").arg(query.lastError().text());
    }
    return std::nullopt;
}

std::optional<QString> OptionsTable::write(const QMap<QString, QString>& values) {
    return inWriteTransaction([&] { return store(values); });
}

std::optional<QString> OptionsTable::writeChecked(const QMap<QString, QString>& values) {
    return inWriteTransaction([&]() -> std::optional<QString> {
        QMap<QString, QString> rows = read().rows;
        const QStringList before = catalog_.checkAll(rows).errors;
        for (auto it = values.begin(); it != values.end(); ++it)
            rows.insert(it.key(), it.value());
        QStringList added;
        for (const QString& error : catalog_.checkAll(rows).errors)
            if (!before.contains(error))
                added << error;
        if (!added.isEmpty())
            return added.join(QLatin1Char('\n'));
        return store(values);
    });
}

std::optional<QString> OptionsTable::remove(const QString& name) {
    return inWriteTransaction([&]() -> std::optional<QString> {
        QSqlQuery query(db_);
        query.prepare(QStringLiteral("DELETE FROM options WHERE name = ?"));
        query.addBindValue(name);
        if (!query.exec())
            return QStringLiteral("Modifica non salvata: %1").arg(query.lastError().text());
        return std::nullopt;
    });
}

} // namespace kv::access
