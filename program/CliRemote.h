#pragma once
// The command line against a server on another PC: the options that name it
// (--remote HOST[:PORT], --trust SHA256:..., --admin-password-file FILE),
// which may stand anywhere, and the connection: the server's fingerprint
// judged against known_servers before anything is sent, then the login.

#include "adminchannel/RemoteAdmin.h"
#include "program/Cli.h"

#include <QStringList>
#include <optional>

namespace kv {
class AdminClient;
class KnownServers;
} // namespace kv

namespace kv::cli {

// A fingerprint that is not the one trusted for the server: nothing was sent.
inline constexpr int kFingerprintMismatch = 4;

struct RemoteOptions {
    std::optional<RemoteServerAddress> server; // --remote
    QString trust;                             // --trust, "" when not given
    std::optional<QString> passwordFile;       // --admin-password-file ("-": standard input)
    QString error; // Italian, when the options cannot be read (exit kUsage)
};

// Takes the options out of `args` (so what remains is the command).
RemoteOptions takeRemoteOptions(QStringList& args);

// Connects `client` to the server, judges its fingerprint (trusting and
// remembering it as asked), reads the administration password and logs in;
// nullopt when connected, else the exit status after saying why.
std::optional<int> connectRemote(AdminClient& client, const RemoteOptions& options,
                                 KnownServers& known, CliIo& io);

} // namespace kv::cli
