#pragma once
// The servers this user trusts for remote administration, each pinned to
// the fingerprint of its administration certificate, kept one per line as
// "HOST:PORT SHA256:..." in ~/.config/Kestrova Vellim/known_servers (made
// 0600), shared by the window and the command line. Unreadable lines are
// kept as they are and skipped.

#include "adminchannel/RemoteAdmin.h"

#include <QString>
#include <optional>

namespace kv {

class KnownServers {
public:
    // The file of this user.
    static QString defaultPath();
    explicit KnownServers(QString path = defaultPath());

    // The fingerprint trusted for `server`; nullopt for a server never trusted.
    std::optional<QString> fingerprintFor(const RemoteServerAddress& server) const;
    // Trusts `fingerprint` for `server`, replacing what was trusted before;
    // the Italian reason when the file cannot be written.
    std::optional<QString> remember(const RemoteServerAddress& server, const QString& fingerprint);

private:
    QString path_;
};

} // namespace kv
