#pragma once
// `kestrova --remote HOST[:PORT]` with no command: a window on a remote
// server (the window's "Connetti a un server..." starts it with
// `--admin-password-file -` and writes the password to its standard input).
// Its data folder is a private temporary one (0700, removed at the end)
// holding the copy of the server's data that the panels edit.

#include "adminchannel/RemoteAdmin.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kv {

struct RemoteWindowRequest {
    RemoteServerAddress server;
    QString passwordFile; // "-": standard input; empty: KESTROVA_ADMIN_PASSWORD or asked
};

// What the arguments (argv[0] first) ask for: nothing remote (wanted
// false), a remote window, or a command line that cannot be read (error,
// in Italian).
struct RemoteWindowReading {
    bool wanted = false;
    RemoteWindowRequest request;
    QString error;
};
RemoteWindowReading readRemoteWindowRequest(const QStringList& arguments);

// The administration password for `request`; nullopt with the reason in `error`.
std::optional<QString> readRemotePassword(const RemoteWindowRequest& request, QString* error);

// Runs the window until it is closed; the exit status.
int runRemoteWindow(const RemoteWindowRequest& request, const QString& password);

} // namespace kv
