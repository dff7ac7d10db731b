// Disk path text helpers of the path checkpoint: clean forms, containment,
// real paths and where a virtual folder's source sits below the root.
#include "files/DiskPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <climits>
#include <cstdlib>
#endif

namespace kv::files {

namespace {
#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity kDiskCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kDiskCase = Qt::CaseSensitive;
#endif
} // namespace

QString cleanDiskPath(const QString& path) {
    QString s = path;
    s.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::cleanPath(s);
}

QString absoluteDiskPath(const QString& path) {
    const QString clean = cleanDiskPath(path);
    if (clean.isEmpty() || clean.contains(QChar(0)) || !QDir::isAbsolutePath(clean))
        return {};
    return clean;
}

// QFileInfo::canonicalFilePath gives a looping link's own path back, so
// realpath is asked directly.
QString realPathOf(const QString& path) {
#ifdef Q_OS_UNIX
    char buffer[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), buffer))
        return {};
    return QFile::decodeName(buffer);
#else
    return QFileInfo::exists(path) ? QFileInfo(path).canonicalFilePath() : QString();
#endif
}

bool isInside(const QString& path, const QString& folder) {
    if (folder.isEmpty())
        return false;
    if (folder.endsWith(QLatin1Char('/'))) // "/" or a drive root such as "C:/"
        return path.startsWith(folder, kDiskCase) ||
               path.compare(folder.chopped(1), kDiskCase) == 0;
    if (!path.startsWith(folder, kDiskCase))
        return false;
    return path.size() == folder.size() || path.at(folder.size()) == QLatin1Char('/');
}

QString joinDisk(const QString& base, const QString& name) {
    return base.endsWith(QLatin1Char('/')) ? base + name : base + QLatin1Char('/') + name;
}

QString joinVirtual(const QString& dir, const QString& name) {
    return dir == QLatin1String("/") ? dir + name : dir + QLatin1Char('/') + name;
}

bool isPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0));
}

std::optional<QString> sourceBelowRoot(const QString& source, const QString& rootDisk) {
    // Blanks around the place are dropped, as the folder editor shows it.
    const QString sourceDisk =
        source.trimmed().isEmpty() ? rootDisk : absoluteDiskPath(source.trimmed());
    if (sourceDisk.isEmpty())
        return std::nullopt; // a relative place would depend on the working folder
    if (isInside(sourceDisk, rootDisk))
        return sourceDisk.mid(rootDisk.size());
    // The operator may have typed the same folder through another name (a
    // link in the root's path); compare the real folders then.
    const QString realRoot = realPathOf(rootDisk);
    const QString realSource = realPathOf(sourceDisk);
    if (realRoot.isEmpty() || realSource.isEmpty() || !isInside(realSource, realRoot))
        return std::nullopt;
    return realSource.mid(realRoot.size());
}

} // namespace kv::files
