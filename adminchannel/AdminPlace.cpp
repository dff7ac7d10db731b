// The administration socket's path and the one-server-per-folder lock.
#include "adminchannel/AdminPlace.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

bool writableFolder(const QString& dir) {
    return !dir.isEmpty() && ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
}

// Only we (or root) can put anything there: it may hold the lock as it is.
bool keptByUs(const struct stat& st) {
    return S_ISDIR(st.st_mode) && (st.st_uid == ::geteuid() || st.st_uid == 0) &&
           (st.st_mode & S_IWOTH) == 0;
}

// Others may write there, but not remove or rename what is ours (/tmp).
bool sharedButSticky(const struct stat& st) {
    return S_ISDIR(st.st_mode) && (st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) != 0;
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
        return {inFolder, dataFolder + QStringLiteral("/kestrova.lock"), {}, {}};
    return runtimeAdminPlace(dataFolder, runtimeDirs);
}

AdminPlace runtimeAdminPlace(const QString& dataFolder, const QStringList& runtimeDirs) {
    const QString name = hashedName(dataFolder);
    const QString ownName = QStringLiteral("kestrova-%1").arg(::geteuid());
    const auto fits = [&name](const QString& base) {
        return QFile::encodeName(base + u'/' + name + QStringLiteral(".sock")).size() <=
               kMaxSocketPathBytes;
    };
    QString base;
    QString privateFolder;
    for (const QString& dir : runtimeDirs) {
        struct stat st {};
        if (dir.isEmpty() || ::stat(QFile::encodeName(dir).constData(), &st) != 0 ||
            !writableFolder(dir))
            continue;
        if (keptByUs(st) && fits(dir)) {
            base = dir;
            break;
        }
        if (sharedButSticky(st) && fits(dir + u'/' + ownName)) {
            base = privateFolder = dir + u'/' + ownName;
            break;
        }
    }
    if (base.isEmpty()) // nowhere usable: /tmp's private folder says why when it is made
        base = privateFolder = QStringLiteral("/tmp/") + ownName;
    return {base + u'/' + name + QStringLiteral(".sock"),
            base + u'/' + name + QStringLiteral(".lock"),
            dataFolder + QStringLiteral("/kestrova.sock.path"), privateFolder};
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

QString makePrivateFolder(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    if (::mkdir(bytes.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("Impossibile creare la cartella %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0)
        return QStringLiteral("Impossibile leggere la cartella %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        return QStringLiteral("%1 non è una cartella ma un collegamento o un file: "
                              "il server non la usa")
            .arg(path);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("La cartella %1 appartiene a un altro utente (uid %2): "
                              "il server non la usa")
            .arg(path)
            .arg(st.st_uid);
    if ((st.st_mode & 0077) != 0)
        return QStringLiteral("La cartella %1 è accessibile ad altri utenti (permessi %2, "
                              "servono 700): il server non la usa")
            .arg(path)
            .arg(st.st_mode & 07777, 3, 8, QLatin1Char('0'));
    return {};
}

FolderClaim::~FolderClaim() {
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}

FolderClaim::Outcome FolderClaim::claim(const QString& lockPath, QString* error) {
    if (fd_ >= 0)
        return Outcome::Claimed;
    const QByteArray path = QFile::encodeName(lockPath);
    // Never through a link, never anything but a plain file (a pipe or a
    // device is not opened for long: O_NONBLOCK).
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | flags, 0644);
    if (fd < 0 && errno == EACCES) // another user's lock file: reading is enough to lock
        fd = ::open(path.constData(), O_RDONLY | flags);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return Outcome::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("non è un file normale");
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
