#pragma once
// Who is at the other end of an administration connection, as the kernel
// tells it (SO_PEERCRED, SO_PEERGROUPS), and whether they may administer:
// root, the server's own user, or a member of the group owning the data
// folder. The socket's file mode is never the only guard.

#include <QList>
#include <QString>
#include <optional>
#include <sys/types.h>

namespace kv {

struct PeerCredentials {
    uid_t uid = 0;
    gid_t gid = 0;
    pid_t pid = 0;
    QList<gid_t> groups; // supplementary groups of the connecting process
};

// The credentials of the process connected on the Unix socket `fd`.
std::optional<PeerCredentials> peerCredentials(int fd);

struct AdminAccessRule {
    uid_t serverUid = 0;
    gid_t folderGid = 0;
};

// The rule for a server run by this process's user on `dataFolder`.
std::optional<AdminAccessRule> adminAccessRule(const QString& dataFolder);

bool mayAdminister(const PeerCredentials& peer, const AdminAccessRule& rule);

// The Italian refusal a peer gets, naming who it is and who may.
QString adminRefusal(const PeerCredentials& peer, const AdminAccessRule& rule);

} // namespace kv
