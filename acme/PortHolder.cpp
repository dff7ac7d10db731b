#include "acme/PortHolder.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>

#include <unistd.h>

namespace kv::acme {

namespace {

constexpr auto kListenState = "0A"; // TCP_LISTEN in /proc/net/tcp's "st" column

// The inodes of the sockets listening on `port` in one /proc/net table.
void addListeningInodes(const QString& table, quint16 port, QSet<QByteArray>& inodes) {
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return;
    file.readLine(); // the column titles
    while (!file.atEnd()) {
        const QList<QByteArray> columns = file.readLine().simplified().split(' ');
        if (columns.size() < 10 || columns[3] != kListenState)
            continue;
        const QByteArray& local = columns[1]; // ADDRESS:PORT, both in hex
        bool ok = false;
        const uint localPort = local.mid(local.lastIndexOf(':') + 1).toUInt(&ok, 16);
        if (ok && localPort == port && columns[9] != "0")
            inodes.insert("socket:[" + columns[9] + ']');
    }
}

} // namespace

QString portHolder(quint16 port) {
    QSet<QByteArray> inodes;
    addListeningInodes(QStringLiteral("/proc/net/tcp"), port, inodes);
    addListeningInodes(QStringLiteral("/proc/net/tcp6"), port, inodes);
    if (inodes.isEmpty())
        return {};

    // Several processes may share the socket (a server's workers): the
    // lowest PID is usually the one that opened it.
    QList<qint64> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok)
            pids << pid;
    }
    std::sort(pids.begin(), pids.end());
    for (const qint64 pid : std::as_const(pids)) {
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString& fd : QDir(fdDir).entryList(QDir::Files | QDir::System)) {
            char target[64] = {};
            const QByteArray link = QFile::encodeName(fdDir + '/' + fd);
            const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
            if (n <= 0 || !inodes.contains(QByteArray(target, n)))
                continue;
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            if (!comm.open(QIODevice::ReadOnly))
                return {};
            return QStringLiteral("%1 (PID %2)")
                .arg(QString::fromUtf8(comm.readAll().trimmed()))
                .arg(pid);
        }
    }
    return {};
}

} // namespace kv::acme
