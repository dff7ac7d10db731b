#pragma once
// What every subcommand handler gets: the opened accounts.dat, the words and
// options after the subcommand, and where to print.

#include "program/Cli.h"
#include "program/CliArguments.h"

#include <QSqlDatabase>
#include <optional>

namespace kv::cli {

struct CliContext {
    QSqlDatabase db;
    QString dataFolder;
    CliArguments args;
    CliIo& io;
    bool json() const { return args.has(QStringLiteral("json")); }
};

// A data folder this user may not enter (the service's /var/lib/kestrova is
// 2770) hides both its accounts.dat and whether a server runs there: what to
// say instead, naming the group that may and how to join it.
std::optional<QString> closedFolderProblem(const QString& folder);

int refuse(CliContext& c, const QString& message);
int usage(CliContext& c, const QString& message);
int done(CliContext& c, const QString& message);

// A folder named on the command line: a relative one is the shell's, below
// its working folder.
QString absoluteFolder(const QString& folder);

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
int quotaCommand(CliContext& c);
int adminSetupCommand(CliContext& c); // "admin passwd|fingerprint"

} // namespace kv::cli
