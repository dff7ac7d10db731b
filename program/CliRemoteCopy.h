#pragma once
// A data command (user, anonymous, vdir, ip, option, settings, action) run
// against a remote server: on a private copy of its accounts.dat, made from
// its snapshot, with the same code as on a local file; what the command
// changed is then sent to the server as one "apply", and the command's own
// output is printed only once the server has accepted it.

#include "program/CliContext.h"

namespace kv::cli {

// `words`: the command's words after its group's; `client` is logged in.
int runOnRemoteCopy(int (*run)(CliContext&), const QStringList& words, AdminClient& client,
                    CliIo& io);

} // namespace kv::cli
