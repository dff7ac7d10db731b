#pragma once
// The engine's stored settings as one value that sessions read through a
// pointer, so a change made before a start reaches every new connection.

#include "ftp/EngineLimits.h"
#include "ftp/PassiveSettings.h"
#include "ftp/ReplyTexts.h"
#include "ftp/TlsSettings.h"

#include <QHostAddress>
#include <QString>
#include <functional>

namespace kv::events {
class ServerEvents;
}
namespace kv::files {
class AreaRegistry;
class HashWorkers;
class OwnFiles;
} // namespace kv::files

namespace kv::session {
class LoginBans;
class QuotaKeeper;
class RateLimiter;
} // namespace kv::session

namespace kv::ftp {

class ReplyPacer;
class TurnQueue;

// Shown at the end of HELP.
inline constexpr char kEngineVersion[] = "1.0";

struct EngineSettings {
    QString localAddress;
    quint16 port = 21;
    QString serverRootDir = QStringLiteral("C:\\");
    qint16 timeout = 180; // seconds of control-connection idleness; 0: none
    qint16 debugMode = 0;
    qint16 dataLingerTime = 0;
    qint32 resolveLinks = 1;
    ReplyTexts replies;
    EngineLimits limits;
    TlsSettings tls;
    PassiveSettings passive;
    // Whether a client is on the local network (it is then told the address
    // it connected to, never the public one); set by the server at Listen().
    std::function<bool(const QHostAddress&)> isLocalClient;
    // Failed-login counts and bans; null: no bans (see session::LoginBans.h).
    session::LoginBans* bans = nullptr;
    // Holds answers back to the microsecond; null: every answer goes at once.
    ReplyPacer* replyPacer = nullptr;
    // Where login verdicts wait for their turn; null: asked at once.
    TurnQueue* loginTurns = nullptr;
    // Where checksums are computed; null: checksum commands are refused.
    files::HashWorkers* hashWorkers = nullptr;
    // Where logins open their folders, shared with other sessions; null:
    // each opens its own.
    files::AreaRegistry* areas = nullptr;
    // The program's own files, never served; null: none.
    const files::OwnFiles* ownFiles = nullptr;
    // Each account's quota as used; null: no quotas.
    session::QuotaKeeper* quota = nullptr;
    // The speed limits transfers move under; null: none.
    session::RateLimiter* rates = nullptr;
    // Told what happens on the server; null: nobody listens.
    events::ServerEvents* notifications = nullptr;
};

} // namespace kv::ftp
