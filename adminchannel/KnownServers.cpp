// The known_servers file: read line by line, rewritten whole (through a
// temporary file renamed over it) when a server is trusted.
#include "adminchannel/KnownServers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace kv {

namespace {

constexpr qint64 kMaxFileBytes = 1024 * 1024;

// The file's lines; empty when it does not exist or cannot be read.
QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.read(kMaxFileBytes)).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The server a line names, or an empty string for a line that names none.
QString serverOf(const QString& line) {
    const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() != 2 || !fields[1].startsWith(QLatin1String("SHA256:")))
        return {};
    return fields[0];
}

} // namespace

QString KnownServers::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Kestrova Vellim/known_servers");
}

KnownServers::KnownServers(QString path) : path_(std::move(path)) {}

std::optional<QString> KnownServers::fingerprintFor(const RemoteServerAddress& server) const {
    const QString key = server.text();
    for (const QString& line : readLines(path_))
        if (serverOf(line) == key)
            return line.split(u' ', Qt::SkipEmptyParts).at(1);
    return std::nullopt;
}

std::optional<QString> KnownServers::remember(const RemoteServerAddress& server,
                                              const QString& fingerprint) {
    const QString key = server.text();
    QStringList lines = readLines(path_);
    const QString entry = key + u' ' + fingerprint;
    // The first line naming the server takes the new fingerprint, any other goes.
    qsizetype kept = -1;
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (serverOf(lines[i]) != key)
            continue;
        if (kept >= 0)
            lines.removeAt(kept);
        kept = i;
    }
    if (kept >= 0)
        lines[kept] = entry;
    else
        lines << entry;
    const QString folder = QFileInfo(path_).absolutePath();
    const auto failed = [&](const QString& why) {
        return QStringLiteral("Impossibile salvare il server fidato in %1: %2").arg(path_, why);
    };
    if (!QDir().mkpath(folder))
        return failed(QStringLiteral("impossibile creare la cartella %1").arg(folder));
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    // The file lists which servers this user administers: for this user only.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write((lines.join(u'\n') + u'\n').toUtf8());
    if (!file.commit())
        return failed(file.errorString());
    return std::nullopt;
}

} // namespace kv
