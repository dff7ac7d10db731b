// Peer credentials of the administration socket and the access rule.
#include "adminchannel/AdminPeer.h"

#include <QFile>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kv {

namespace {

QString userName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString groupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

QList<gid_t> peerGroups(int fd) {
    std::vector<gid_t> groups(64);
    for (int round = 0; round < 4; ++round) {
        socklen_t length = socklen_t(groups.size() * sizeof(gid_t));
        if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0)
            return QList<gid_t>(groups.begin(), groups.begin() + length / sizeof(gid_t));
        if (errno != ERANGE)
            return {};
        groups.resize(length / sizeof(gid_t) + 1);
    }
    return {};
}

} // namespace

std::optional<PeerCredentials> peerCredentials(int fd) {
    ucred cred{};
    socklen_t length = sizeof(cred);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof(cred))
        return std::nullopt;
    return PeerCredentials{cred.uid, cred.gid, cred.pid, peerGroups(fd)};
}

std::optional<AdminAccessRule> adminAccessRule(const QString& dataFolder) {
    struct stat info {};
    if (::stat(QFile::encodeName(dataFolder).constData(), &info) != 0)
        return std::nullopt;
    return AdminAccessRule{geteuid(), info.st_gid};
}

bool mayAdminister(const PeerCredentials& peer, const AdminAccessRule& rule) {
    return peer.uid == 0 || peer.uid == rule.serverUid || peer.gid == rule.folderGid ||
           peer.groups.contains(rule.folderGid);
}

QString adminRefusal(const PeerCredentials& peer, const AdminAccessRule& rule) {
    return QStringLiteral("Accesso negato: l'utente %1 non è root, non è l'utente del server (%2) "
                          "e non fa parte del gruppo %3 della cartella dei dati")
        .arg(userName(peer.uid), userName(rule.serverUid), groupName(rule.folderGid));
}

} // namespace kv
