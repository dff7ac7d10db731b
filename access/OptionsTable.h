#pragma once
// The `options` table of accounts.dat (name, value): the server options the
// option catalog declares. A missing row means the declared default; rows of
// names this program does not know are read and kept as they are. Edits made
// in the settings panel stay pending here until the views are committed, as
// edits of the settings row do.

#include "settings/OptionCatalog.h"

#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

namespace kv::access {

// What the table holds; `error` is set (Italian) when it could not be read.
struct OptionRows {
    QMap<QString, QString> rows;
    QString error;
};

class OptionsTable {
public:
    explicit OptionsTable(const QSqlDatabase& db,
                          const settings::OptionCatalog& catalog = settings::optionCatalog());

    // Creates the table in `db` when the file has none; the error text when
    // that fails (a read-only or locked file, which then stays as it was).
    static std::optional<QString> ensureTable(QSqlDatabase& db);

    const settings::OptionCatalog& catalog() const { return catalog_; }

    // Every stored row; a file without the table has none. A null value reads
    // as empty text, which the catalog takes as the default.
    OptionRows read() const;
    // Every declared option checked as stored, with the pending edits over it.
    settings::OptionSet current() const;
    // One option's text: a pending edit, else the stored value, else the default.
    QString value(const QString& name) const;

    // Pending edits, written by commit().
    void setPending(const QString& name, const QString& value) { pending_.insert(name, value); }
    void dropPending(const QString& name) { pending_.remove(name); }
    const QMap<QString, QString>& pending() const { return pending_; }
    bool isDirty() const { return !pending_.isEmpty(); }
    void discardPending() { pending_.clear(); }
    // Writes the pending edits in one transaction (creating the table when
    // missing) and clears them; on failure nothing is written, the edits stay
    // pending and the database's reason is returned.
    std::optional<QString> commit();

    // Writes `values` at once, in one transaction, leaving every other row as
    // it is. The transaction takes the write lock first, so two programs
    // writing options at once run one after the other instead of one failing.
    std::optional<QString> write(const QMap<QString, QString>& values);
    // As write(), but refused (with the catalog's reasons) when `values` would
    // break a rule between options that the stored rows keep; the rows are
    // judged inside the same transaction, so a change made meanwhile counts.
    std::optional<QString> writeChecked(const QMap<QString, QString>& values);
    // Deletes the row of `name`, so the option returns to its default.
    std::optional<QString> remove(const QString& name);

private:
    // Runs `work` inside BEGIN IMMEDIATE ... COMMIT (creating the table first);
    // any error rolls everything back and is returned in Italian.
    std::optional<QString> inWriteTransaction(const std::function<std::optional<QString>()>& work);
    std::optional<QString> store(const QMap<QString, QString>& values);

    QSqlDatabase db_;
    const settings::OptionCatalog& catalog_;
    QMap<QString, QString> pending_;
};

} // namespace kv::access
