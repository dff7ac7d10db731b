#pragma once
// The subcommands that talk to a running server through its administration
// channel: status, who, kick, ban, reload, acme renew, log. Exit status as the other
// subcommands, plus kNoServer when nothing serves the data folder.

#include "program/Cli.h"

#include <QStringList>

namespace kv {
class AdminClient;
}

namespace kv::cli {

inline constexpr int kNoServer = 3;

// True for the words above.
bool isAdminCommand(const QString& word);
// The help text of one of them; empty for another word.
QString adminHelp(const QString& word);
QString allAdminHelp();

// `args`: the words after the subcommand's own. A `remote` client, logged
// in, is used instead of the data folder's socket.
int runAdminCommand(const QString& command, const QStringList& args, const QString& dataFolder,
                    CliIo& io, AdminClient* remote = nullptr);

} // namespace kv::cli
