#pragma once
// Where accounts.dat, ftp.log and the generated certificate live: the folder given with --data-dir,
// else the program's own folder when it is writable, else the per-user data folder.

#include <QString>

namespace kv {

// A given folder or the per-user folder that does not exist yet is created
// (see makeDataFolder); one that exists keeps its mode.
QString chooseDataFolder(const QString& overrideDir, const QString& programDir,
                         const QString& userDataDir);

// Creates `folder` and any missing parents, each private to its owner
// (0700) unless its parent is shared with a group (set-group-ID bit): then it
// joins that group the same way (02770). False when one cannot be made.
bool makeDataFolder(const QString& folder);

// The same rule with the real program and per-user folders.
QString dataFolder(const QString& overrideDir);

// The system service's data folder, which the window opens with --service.
inline const QString kServiceDataFolder = QStringLiteral("/var/lib/kestrova");
// The same, or the folder KESTROVA_SERVICE_FOLDER names: tests that drive the
// real window play the service on a scratch folder.
QString serviceDataFolder();
// The group whose members may administer the service.
inline const QString kServiceGroup = QStringLiteral("kestrova");

// Empty when this user may administer the service's data folder `folder`
// (read and write accounts.dat there, reach its socket); otherwise what to
// do about it, in Italian.
QString serviceFolderProblem(const QString& folder);

inline QString accountsFile(const QString& folder) {
    return folder + QStringLiteral("/accounts.dat");
}
inline QString logFile(const QString& folder) {
    return folder + QStringLiteral("/ftp.log");
}
// Where the generated TLS certificate and its key live when the options name no files.
inline QString defaultCertificateFile(const QString& folder) {
    return folder + QStringLiteral("/kestrova-cert.pem");
}
inline QString defaultPrivateKeyFile(const QString& folder) {
    return folder + QStringLiteral("/kestrova-key.pem");
}

} // namespace kv
