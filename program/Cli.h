#pragma once
// The command line for the headless operator: subcommands that read and
// change accounts.dat (accounts, the anonymous account, virtual folders,
// address lists, options, server settings) while a server may be running on
// the same file. Exit status: 0 done, 1 a change refused (the message says
// why), 2 a command line that cannot be read.

#include <QStringList>
#include <QTextStream>
#include <functional>
#include <optional>

namespace kv::cli {

inline constexpr int kDone = 0;
inline constexpr int kRefused = 1;
inline constexpr int kUsage = 2;

// True when `word` starts a subcommand rather than the server or the window.
bool isSubcommand(const QString& word);

struct CliIo {
    QTextStream& out;
    QTextStream& err;
    // Reads a password (from standard input, without echo on a terminal).
    std::function<std::optional<QString>(const QString& prompt)> readPassword;
    // Reads other text, such as a public key line.
    std::function<std::optional<QString>(const QString& prompt)> readText;
    // Whether standard input is a terminal, where the operator may be asked.
    bool terminal = false;
};

// `args` without the program name, starting at the subcommand; "--data-dir
// DIR" (or "--remote HOST[:PORT]" with its options) may stand anywhere;
// `dataFolder` turns it (or "") into the data folder.
int runSubcommand(const QStringList& args, const std::function<QString(const QString&)>& dataFolder,
                  CliIo& io);

} // namespace kv::cli
