// The administration socket's path and the one-server-per-folder lock.
#include "core/AdminPlace.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kv {

namespace {

bool writableFolder(const QString& dir) {
    return !dir.isEmpty() && ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
}

QString hashedName(const QString& dataFolder) {
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(dataFolder), QCryptographicHash::Sha256);
    return QStringLiteral("kestrova-") + QString::fromLatin1(digest.toHex().left(16));
}

} // namespace

QStringList defaultRuntimeDirs() {
    QStringList dirs;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        dirs << runtime;
    dirs << QStringLiteral("/run/kestrova") << QStringLiteral("/tmp");
    return dirs;
}

AdminPlace adminPlace(const QString& dataFolder, const QStringList& runtimeDirs) {
    const QString inFolder = dataFolder + QStringLiteral("/kestrova.sock");
    if (QFile::encodeName(inFolder).size() <= kMaxSocketPathBytes && writableFolder(dataFolder))
        return {inFolder, dataFolder + QStringLiteral("/kestrova.lock"), {}};
    const QString name = hashedName(dataFolder);
    QString base = QStringLiteral("/tmp");
    for (const QString& dir : runtimeDirs) {
        if (writableFolder(dir) &&
            QFile::encodeName(dir + u'/' + name + QStringLiteral(".sock")).size() <=
                kMaxSocketPathBytes) {
            base = dir;
            break;
        }
    }
    return {base + u'/' + name + QStringLiteral(".sock"),
            base + u'/' + name + QStringLiteral(".lock"),
            dataFolder + QStringLiteral("/kestrova.sock.path")};
}

AdminPlace adminPlace(const QString& dataFolder) {
    return adminPlace(dataFolder, defaultRuntimeDirs());
}

QString adminSocketToConnect(const QString& dataFolder) {
    QFile record(dataFolder + QStringLiteral("/kestrova.sock.path"));
    if (record.open(QIODevice::ReadOnly)) {
        const QString path = QString::fromUtf8(record.read(4096)).trimmed();
        if (!path.isEmpty())
            return path;
    }
    const QString inFolder = dataFolder + QStringLiteral("/kestrova.sock");
    if (QFileInfo::exists(inFolder))
        return inFolder;
    return adminPlace(dataFolder).socketPath;
}

FolderClaim::~FolderClaim() {
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}

FolderClaim::Outcome FolderClaim::claim(const QString& lockPath, QString* error) {
    if (fd_ >= 0)
        return Outcome::Claimed;
    const QByteArray path = QFile::encodeName(lockPath);
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EACCES) // another user's lock file: reading is enough to lock
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return Outcome::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK)
            return Outcome::Taken;
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(code));
        return Outcome::Failed;
    }
    fd_ = fd;
    return Outcome::Claimed;
}

} // namespace kv
