#pragma once
// Where accounts.dat and ftp.log live: the folder given with --data-dir, else
// the program's own folder when it is writable, else the per-user data folder.

#include <QString>

namespace kv {

QString chooseDataFolder(const QString& overrideDir, const QString& programDir,
                         const QString& userDataDir);

// The same rule with the real program and per-user folders.
QString dataFolder(const QString& overrideDir);

inline QString accountsFile(const QString& folder) {
    return folder + QStringLiteral("/accounts.dat");
}
inline QString logFile(const QString& folder) {
    return folder + QStringLiteral("/ftp.log");
}

} // namespace kv
