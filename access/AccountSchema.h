#pragma once
// The layout of accounts.dat: the statements that create a new file (tables
// plus the one settings row, the one anonymous row and the options a new file
// starts with) and the check that an
// existing file has every table and field the program reads.

#include "settings/OptionCatalog.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv::access {

// CREATE TABLE statements, in creation order, exactly as stored in the file.
const QStringList& accountTableStatements();
// The options table's statement (the last of them); an older file gains it.
const QString& optionsTableStatement();
// The table of the rules that run a program or send an e-mail when something
// happens on the server. A new file has it; an older one gains it with its
// first rule (opening the file leaves it as it was).
const QString& actionsTableStatement();
std::optional<QString> ensureActionsTable(QSqlDatabase& db);
// The triggers that keep an account's action rules with it: renaming the
// account renames them, deleting it deletes them (compared ignoring case, as
// logins are), whoever changes the users table. Made with the actions table;
// a file whose table lacks them gains them when opened (ensureActionTriggers).
const QStringList& actionTriggerStatements();
// Creates the triggers that are missing when the actions table exists, and
// drops them when the table is gone; a file that is right is not written.
std::optional<QString> ensureActionTriggers(QSqlDatabase& db);

// What a new file starts with besides the catalog's values: chosen by the
// program for the folder and user it runs for, and handed in as values.
struct NewDatabaseValues {
    // The settings row's rootdir (the folder an account without its own
    // shares); empty keeps the catalog's value.
    QString defaultRoot;
};

// Creates the tables and the default rows in `db` inside one transaction,
// with the options rows `catalog` gives a new database and `values`.
// Returns the database's error text on failure (nothing is committed then).
std::optional<QString>
createAccountTables(QSqlDatabase& db,
                    const settings::OptionCatalog& catalog = settings::optionCatalog(),
                    const NewDatabaseValues& values = {});

// Checks an opened file: readable as SQLite, not damaged, every table and
// field present. Returns the Italian reason when it is not usable.
std::optional<QString> checkAccountTables(QSqlDatabase& db);

} // namespace kv::access
