#pragma once
// What every subcommand handler gets: the opened accounts.dat, the words and
// options after the subcommand, and where to print.

#include "program/Cli.h"
#include "program/CliArguments.h"

#include <QSqlDatabase>
#include <QVariantList>
#include <optional>

namespace kv::cli {

struct CliContext {
    QSqlDatabase db;
    QString dataFolder;
    CliArguments args;
    CliIo& io;
    bool json() const { return args.has(QStringLiteral("json")); }
};

// An Italian message and an exit status for a change that did not happen.
struct CliRefusal {
    QString message;
};

// Runs `statements` in one transaction, waiting briefly for a database that
// another process holds; nothing is written when one fails.
std::optional<CliRefusal> writeAll(QSqlDatabase& db,
                                   const QList<std::pair<QString, QVariantList>>& statements);
// Every row of `select`, each as its list of column values.
QList<QVariantList> readRows(QSqlDatabase& db, const QString& select,
                             const QVariantList& params = {});

// A data folder this user may not enter (the service's /var/lib/kestrova is
// 2770) hides both its accounts.dat and whether a server runs there: what to
// say instead, naming the group that may and how to join it.
std::optional<QString> closedFolderProblem(const QString& folder);

int refuse(CliContext& c, const QString& message);
int usage(CliContext& c, const QString& message);
int done(CliContext& c, const QString& message);

// rwdbm letters <-> the rights fields (read, write, delete, browse, manage).
std::optional<QList<bool>> parseRights(const QString& letters);
QString rightsLetters(const QList<bool>& rights);
inline const QStringList kRightFields = {QStringLiteral("read"), QStringLiteral("write"),
                                         QStringLiteral("\"delete\""), QStringLiteral("browse"),
                                         QStringLiteral("manage")};

// Handlers, by group.
int userCommand(CliContext& c);
int userKeyCommand(CliContext& c); // "user key ..."
int anonymousCommand(CliContext& c);
int vdirCommand(CliContext& c);
int ipCommand(CliContext& c);
int optionCommand(CliContext& c);
int settingsCommand(CliContext& c);
int actionCommand(CliContext& c);
int mailCommand(CliContext& c);

} // namespace kv::cli
