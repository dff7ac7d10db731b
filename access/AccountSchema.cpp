#include "access/AccountSchema.h"

#include "access/AccountLimitsTable.h"
#include "access/DataView.h"
#include "settings/PortPrivilege.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kv::access {

namespace {

struct TableColumns {
    QString table;
    QStringList columns;
};

// Every field the program names; extra fields in a file are tolerated.
const QList<TableColumns>& requiredColumns() {
    static const QList<TableColumns> tables = {
        {QStringLiteral("users"),
         {"ID", "login", "password", "enabled", "read", "write", "delete", "browse", "manage",
          "rootdir"}},
        {QStringLiteral("anonymous"),
         {"enabled", "read", "write", "delete", "browse", "manage", "rootdir"}},
        {QStringLiteral("settings"),
         {"ip", "port", "rootdir", "start", "timeout", "log", "IPok", "IPko", "debugmode",
          "resolvelinks", "datalingertime", "minimized"}},
        {QStringLiteral("IPok"), {"IP"}},
        {QStringLiteral("IPko"), {"IP"}},
        {QStringLiteral("virtualdirs"), {"name", "source", "destination", "user"}},
    };
    return tables;
}

QString quoted(const QString& identifier) {
    QString inner = identifier;
    inner.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

} // namespace

const QStringList& accountTableStatements() {
    static const QStringList statements = {
        QStringLiteral(
            "CREATE TABLE users (ID INTEGER PRIMARY KEY AUTOINCREMENT, login TEXT COLLATE NOCASE "
            "UNIQUE, password TEXT, enabled BOOLEAN NOT NULL DEFAULT 0, read BOOLEAN NOT NULL "
            "DEFAULT 0, write BOOLEAN NOT NULL DEFAULT 0, \"delete\" BOOLEAN NOT NULL DEFAULT 0, "
            "browse BOOLEAN NOT NULL DEFAULT 0, manage BOOLEAN NOT NULL DEFAULT 0, rootdir TEXT)"),
        QStringLiteral(
            "CREATE TABLE anonymous (enabled BOOLEAN NOT NULL DEFAULT 0, read BOOLEAN NOT NULL "
            "DEFAULT 1, write BOOLEAN NOT NULL DEFAULT 0, \"delete\" BOOLEAN NOT NULL DEFAULT 0, "
            "browse BOOLEAN NOT NULL DEFAULT 1, manage BOOLEAN NOT NULL DEFAULT 0, rootdir TEXT)"),
        QStringLiteral(
            "CREATE TABLE settings (ip TEXT, port TEXT, rootdir TEXT, start BOOLEAN NOT NULL "
            "DEFAULT 0, timeout TEXT, log BOOLEAN NOT NULL DEFAULT 1, IPok BOOLEAN NOT NULL "
            "DEFAULT 0, IPko BOOLEAN NOT NULL DEFAULT 0, debugmode TEXT, resolvelinks TEXT, "
            "datalingertime TEXT, minimized TEXT)"),
        QStringLiteral("CREATE TABLE IPok (IP TEXT)"),
        QStringLiteral("CREATE TABLE IPko (IP TEXT)"),
        QStringLiteral(
            "CREATE TABLE virtualdirs (name TEXT, source TEXT, destination TEXT, user INTEGER)"),
        optionsTableStatement(),
        actionsTableStatement(),
    };
    return statements;
}

const QString& actionsTableStatement() {
    static const QString statement = QStringLiteral(
        "CREATE TABLE actions (id INTEGER PRIMARY KEY AUTOINCREMENT, event TEXT NOT NULL, "
        "user TEXT NOT NULL DEFAULT '*', path TEXT NOT NULL DEFAULT '', kind TEXT NOT NULL, "
        "target TEXT NOT NULL, enabled BOOLEAN NOT NULL DEFAULT 1)");
    return statement;
}

const QStringList& actionTriggerStatements() {
    // A login emptied or made "*" (every account, in a rule) takes no rule
    // with it; while another row still has the old login (an older file may
    // hold duplicates) the rules stay where they are.
    static const QStringList statements = {
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS actions_follow_rename AFTER UPDATE OF login "
                       "ON users WHEN OLD.login IS NOT NEW.login AND ifnull(NEW.login, '') NOT "
                       "IN ('', '*') AND ifnull(OLD.login, '') NOT IN ('', '*') BEGIN UPDATE "
                       "actions SET user = NEW.login WHERE user = OLD.login COLLATE NOCASE AND "
                       "NOT EXISTS (SELECT 1 FROM users WHERE login = OLD.login); END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS actions_follow_delete AFTER DELETE ON users "
                       "WHEN ifnull(OLD.login, '') NOT IN ('', '*') BEGIN DELETE FROM actions "
                       "WHERE user = OLD.login COLLATE NOCASE AND NOT EXISTS (SELECT 1 FROM users "
                       "WHERE login = OLD.login); END"),
    };
    return statements;
}

namespace {

std::optional<bool> tableExists(QSqlDatabase& db, const QString& name) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"));
    query.addBindValue(name);
    if (!query.exec())
        return std::nullopt;
    return query.next();
}

std::optional<bool> actionsTableExists(QSqlDatabase& db) {
    return tableExists(db, QStringLiteral("actions"));
}

std::optional<QString> execAll(QSqlDatabase& db, const QStringList& statements) {
    QSqlQuery query(db);
    for (const QString& statement : statements) {
        if (!query.exec(statement))
            return query.lastError().text();
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> ensureActionTriggers(QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND "
                                   "name IN ('actions_follow_rename', 'actions_follow_delete')")) ||
        !query.next())
        return query.lastError().text();
    const int present = query.value(0).toInt();
    query.finish();
    const std::optional<bool> exists = actionsTableExists(db);
    const std::optional<bool> accounts = tableExists(db, QStringLiteral("users"));
    if (!exists || !accounts)
        return QStringLiteral("la tabella actions non è leggibile");
    // Without a users table there is no account for the rules to follow.
    if (*exists && *accounts && present < int(actionTriggerStatements().size()))
        return execAll(db, actionTriggerStatements());
    // Another program dropped the table: its triggers would make every change
    // of an account fail, so they go too.
    if (!*exists && present > 0)
        return execAll(db, {QStringLiteral("DROP TRIGGER IF EXISTS actions_follow_rename"),
                            QStringLiteral("DROP TRIGGER IF EXISTS actions_follow_delete")});
    return std::nullopt; // nothing to write: the file stays as it is
}

std::optional<QString> ensureActionsTable(QSqlDatabase& db) {
    const std::optional<bool> exists = actionsTableExists(db);
    if (!exists)
        return QStringLiteral("la tabella actions non è leggibile");
    if (!*exists) {
        if (auto failed = execAll(db, {actionsTableStatement()}))
            return failed;
    }
    return ensureActionTriggers(db);
}

const QString& optionsTableStatement() {
    static const QString statement =
        QStringLiteral("CREATE TABLE options (name TEXT PRIMARY KEY, value TEXT)");
    return statement;
}

std::optional<QString> createAccountTables(QSqlDatabase& db, const settings::OptionCatalog& catalog,
                                           const NewDatabaseValues& values) {
    static const QStringList defaultRows = {
        QStringLiteral("INSERT INTO anonymous DEFAULT VALUES"),
    };
    if (!db.transaction())
        return db.lastError().text();
    QSqlQuery query(db);
    for (const QString& statement : accountTableStatements() + actionTriggerStatements() +
                                        AccountLimitsTable::statements() + defaultRows) {
        if (!query.exec(statement)) {
            const QString error = query.lastError().text();
            query.finish();
            db.rollback();
            return error;
        }
    }
    // The one settings row, as the catalog declares a new file's values.
    QMap<QString, QString> settingsRow = catalog.newSettingsRow();
    // A user who cannot listen on 21 gets a port that starts.
    if (settingsRow.contains(settings::setting::kPort))
        settingsRow[settings::setting::kPort] =
            settings::newDatabasePort(settings::mayBindPort(21));
    if (settingsRow.contains(settings::setting::kRootDir) && !values.defaultRoot.isEmpty())
        settingsRow[settings::setting::kRootDir] = values.defaultRoot;
    if (settingsRow.isEmpty()) {
        query.prepare(QStringLiteral("INSERT INTO settings DEFAULT VALUES"));
    } else {
        query.prepare(QStringLiteral("INSERT INTO settings (%1) VALUES (%2)")
                          .arg(settingsRow.keys().join(u','),
                               QStringList(settingsRow.size(), QStringLiteral("?")).join(u',')));
        // An empty value is stored as empty text, never as null.
        for (const QString& value : settingsRow)
            query.addBindValue(value.isNull() ? QString(QLatin1String("")) : value);
    }
    if (!query.exec()) {
        const QString error = query.lastError().text();
        query.finish();
        db.rollback();
        return error;
    }
    const QMap<QString, QString> options = catalog.newDatabaseRows();
    for (auto it = options.begin(); it != options.end(); ++it) {
        query.prepare(QStringLiteral("INSERT INTO options (name, value) VALUES (?, ?)"));
        query.addBindValue(it.key());
        query.addBindValue(it.value());
        if (!query.exec()) {
            const QString error = query.lastError().text();
            query.finish();
            db.rollback();
            return error;
        }
    }
    query.finish();
    if (!db.commit())
        return db.lastError().text();
    return std::nullopt;
}

std::optional<QString> checkAccountTables(QSqlDatabase& db) {
    QSqlQuery query(db);
    // The first read of a file that is not SQLite (or is damaged) fails here.
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next()) {
        const int code = query.lastError().nativeErrorCode().toInt();
        if (isBusyError(code))
            return QStringLiteral("il file è bloccato da un altro programma.");
        return QStringLiteral("il file non è un database valido.");
    }
    if (query.value(0).toString() != QLatin1String("ok"))
        return QStringLiteral("il file è danneggiato.");

    QSet<QString> tables;
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return QStringLiteral("il file non è un database valido.");
    while (query.next())
        tables.insert(query.value(0).toString().toLower());

    for (const TableColumns& required : requiredColumns()) {
        if (!tables.contains(required.table.toLower()))
            return QStringLiteral("manca la tabella %1.").arg(required.table);
        if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quoted(required.table))))
            return QStringLiteral("la tabella %1 non è leggibile.").arg(required.table);
        QSet<QString> present;
        while (query.next())
            present.insert(query.value(1).toString().toLower());
        for (const QString& column : required.columns) {
            if (!present.contains(column.toLower()))
                return QStringLiteral("nella tabella %1 manca il campo %2.")
                    .arg(required.table, column);
        }
    }
    return std::nullopt;
}

} // namespace kv::access
